#include "mail/route_answer.h"

#include <array>
#include <cstddef>

namespace mail {
namespace {

using Kind = DraftRoute::Kind;

// The route the job tries first that is not a refusal: MAILER's later
// commands are tried while the ones before them have not opened the draft.
const DraftRoute& effective(const DraftRoute& route) {
  if (route.kind != Kind::Refuse) return route;
  for (const DraftRoute& next : route.fallbacks) {
    if (next.kind != Kind::Refuse) return next;
  }
  return route;
}

RouteAnswer::Log logOf(const DraftRoute& withLog, const DraftRoute& withoutLog) {
  if (withLog.kind == Kind::Host) return RouteAnswer::Log::DecidedOnHost;
  if (effective(withLog).kind != Kind::Refuse) return RouteAnswer::Log::Carried;
  if (effective(withoutLog).kind != Kind::Refuse) return RouteAnswer::Log::NotCarried;
  return RouteAnswer::Log::NoRoute;
}

}  // namespace

RouteAnswer answerRoute(const MailFacts& facts, const DraftRoute& withLog, const DraftRoute& withoutLog,
                        bool logAsked) {
  RouteAnswer answer;
  answer.log = logOf(withLog, withoutLog);
  const DraftRoute& route = effective(logAsked ? withLog : withoutLog);
  switch (route.kind) {
    case Kind::Refuse:
      answer.why = route.why;
      return answer;
    case Kind::Host:
      answer.way = RouteAnswer::Way::Host;
      answer.proof = RouteAnswer::Proof::DecidedOnHost;
      return answer;
    case Kind::Portal:
      answer.way = RouteAnswer::Way::Portal;
      answer.portalBackend = route.portalBackend;
      break;
    case Kind::Start:
    case Kind::Watched:
      // MAILER settles the route before the default handler is looked up.
      if (!facts.mailer.empty()) {
        answer.way = RouteAnswer::Way::Mailer;
      } else {
        answer.way = route.kind == Kind::Watched ? RouteAnswer::Way::Terminal : RouteAnswer::Way::DefaultClient;
        answer.handler = facts.handlerId;
      }
      answer.client = route.client;
      break;
  }
  answer.proof = route.assurance == Assurance::Checked ? RouteAnswer::Proof::Checked : RouteAnswer::Proof::StartOnly;
  return answer;
}

namespace {

// The name at the enumerator's place in `names`, which lists them in the
// enumeration's order; a value outside the enumeration (a host's number
// cast to it) takes the name of `otherwise`.
template <typename Enum, std::size_t count>
std::string_view nameIn(const std::array<std::string_view, count>& names, Enum value, Enum otherwise) {
  const auto index = static_cast<std::size_t>(value);
  return names[index < count ? index : static_cast<std::size_t>(otherwise)];
}

}  // namespace

std::string_view wayName(RouteAnswer::Way way) {
  static constexpr auto kNames =
      std::to_array<std::string_view>({"none", "defaultClient", "terminal", "mailer", "portal", "flatpakHost"});
  return nameIn(kNames, way, RouteAnswer::Way::None);
}

std::string_view logName(RouteAnswer::Log log) {
  static constexpr auto kNames = std::to_array<std::string_view>({"carried", "notCarried", "noRoute", "decidedOnHost"});
  return nameIn(kNames, log, RouteAnswer::Log::NoRoute);
}

std::string_view proofName(RouteAnswer::Proof proof) {
  static constexpr auto kNames = std::to_array<std::string_view>({"", "checked", "startOnly", "decidedOnHost"});
  return nameIn(kNames, proof, RouteAnswer::Proof::None);
}

std::string_view clientName(Client client) {
  static constexpr auto kNames = std::to_array<std::string_view>(
      {"", "thunderbird", "evolution", "claws-mail", "sylpheed", "balsa", "neomutt", "geary", "kmail"});
  return nameIn(kNames, client, Client::Unknown);
}

std::string_view portalBackendName(PortalBackend backend) {
  static constexpr auto kNames = std::to_array<std::string_view>({"gtk", "kde", "unknown"});
  return nameIn(kNames, backend, PortalBackend::Unknown);
}

}  // namespace mail
