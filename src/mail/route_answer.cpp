#include "mail/route_answer.h"

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

std::string_view wayName(RouteAnswer::Way way) {
  switch (way) {
    case RouteAnswer::Way::None:
      break;
    case RouteAnswer::Way::DefaultClient:
      return "defaultClient";
    case RouteAnswer::Way::Terminal:
      return "terminal";
    case RouteAnswer::Way::Mailer:
      return "mailer";
    case RouteAnswer::Way::Portal:
      return "portal";
    case RouteAnswer::Way::Host:
      return "flatpakHost";
  }
  return "none";
}

std::string_view logName(RouteAnswer::Log log) {
  switch (log) {
    case RouteAnswer::Log::Carried:
      return "carried";
    case RouteAnswer::Log::NotCarried:
      return "notCarried";
    case RouteAnswer::Log::NoRoute:
      break;
    case RouteAnswer::Log::DecidedOnHost:
      return "decidedOnHost";
  }
  return "noRoute";
}

std::string_view proofName(RouteAnswer::Proof proof) {
  switch (proof) {
    case RouteAnswer::Proof::None:
      break;
    case RouteAnswer::Proof::Checked:
      return "checked";
    case RouteAnswer::Proof::StartOnly:
      return "startOnly";
    case RouteAnswer::Proof::DecidedOnHost:
      return "decidedOnHost";
  }
  return "";
}

std::string_view clientName(Client client) {
  switch (client) {
    case Client::Unknown:
      break;
    case Client::Thunderbird:
      return "thunderbird";
    case Client::Evolution:
      return "evolution";
    case Client::ClawsMail:
      return "claws-mail";
    case Client::Sylpheed:
      return "sylpheed";
    case Client::Balsa:
      return "balsa";
    case Client::NeoMutt:
      return "neomutt";
    case Client::Geary:
      return "geary";
    case Client::KMail:
      return "kmail";
  }
  return "";
}

std::string_view portalBackendName(PortalBackend backend) {
  switch (backend) {
    case PortalBackend::Gtk:
      return "gtk";
    case PortalBackend::Kde:
      return "kde";
    case PortalBackend::Unknown:
      break;
  }
  return "unknown";
}

}  // namespace mail
