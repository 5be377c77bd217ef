#include "mail/host_route.h"

#include <sys/wait.h>

#include "files/private_file.h"
#include "mail/mail_address.h"
#include "mail/mail_facts.h"
#include "platform/child_process.h"
#include "platform/directory.h"
#include "platform/error_numbers.h"
#include "platform/json.h"
#include "platform/memory_file.h"

namespace mail {
namespace {

constexpr const char* kSubjectKey = "subject";
constexpr const char* kBodyKey = "body";
constexpr const char* kLogKey = "log";
constexpr const char* kRecipientKey = "to";

// The log at the same path on the host: reached without a link, the user's
// private regular file there. A sandbox without the user's home sees a home
// of its own, whose files the host does not have.
bool logSharedWithHost(const std::string& path, std::int64_t maxLogSize) {
  const auto slash = path.rfind('/');
  if (!path.starts_with('/') || slash + 1 == path.size()) return false;
  const auto directory = platform::Directory::openWithoutLinks(slash == 0 ? "/" : path.substr(0, slash));
  if (!directory) return false;
  return privateFile(platform::childOf(*directory, path.substr(slash + 1)), maxLogSize);
}

ServiceAnswer failed(std::int64_t number, std::string message) { return {number, std::move(message)}; }

}  // namespace

std::string hostRequest(const Draft& draft) {
  const platform::Json request = {{kSubjectKey, draft.subject},
                                  {kBodyKey, draft.body},
                                  {kLogKey, draft.attachment},
                                  {kRecipientKey, draft.recipient}};
  // Texts that are not UTF-8 cannot be written: an empty request, which
  // the host side refuses.
  return platform::serializeJson(request).value_or("");
}

std::optional<Draft> draftOfHostRequest(std::string_view request) {
  const auto json = platform::parseJson(request);
  if (!json || !json->is_object() || json->size() != 4) return std::nullopt;
  Draft draft;
  for (const auto& [key, field] : {std::pair{kSubjectKey, &draft.subject}, std::pair{kBodyKey, &draft.body},
                                   std::pair{kLogKey, &draft.attachment}, std::pair{kRecipientKey, &draft.recipient}}) {
    const auto value = json->find(key);
    if (value == json->end() || !value->is_string()) return std::nullopt;
    *field = value->get<std::string>();
  }
  return draft;
}

std::optional<ServiceAnswer> hostRouteOutcome(int status) {
  switch (status) {
    case kHostOpened:
      return ServiceAnswer{};
    case kFlatpakNotStarted:
      return std::nullopt;
    case kHostNoRoute:
      return failed(kErrorNoDraftRoute, "No route on the host is known to carry what was asked.");
    case kHostLogNotShared:
      return failed(kErrorNoDraftRoute, "The host does not see the job's log at its path.");
    case kHostNotOpened:
      return failed(platform::kErrorLaunchFailed, "The mail client on the host did not open the draft.");
    case kFlatpakNoAnswer:
      return failed(platform::kErrorLaunchFailed, "The host did not answer in time.");
    case kFlatpakHostSignalled:
      return failed(platform::kErrorKilledBySignal, "The draft's command on the host was ended by a signal.");
    default:
      break;
  }
  return failed(platform::kErrorLaunchFailed, "The draft could not be opened on the host (status " +
                                                  std::to_string(status) + ").");
}

std::optional<ServiceAnswer> carryOutOnHost(const MailContext& context, const DraftRoute& route, const Draft& draft) {
  if (route.argv.size() != 1) return failed(platform::kErrorLaunchFailed, "No host program to run.");
  const std::optional<platform::UniqueFd> request = platform::sealedMemoryFile(hostRequest(draft));
  if (!request) return failed(platform::kErrorLaunchFailed, "The request for the host could not be made.");
  const std::chrono::milliseconds deadline = context.hostDeadline;
  platform::ChildSpec spec;
  spec.paths = {context.flatpakHelper};
  spec.arguments = {context.flatpakHelper, route.argv.front(), std::to_string(deadline.count())};
  spec.environment = context.environment;
  spec.input = request->get();
  platform::ChildStart start = platform::startChild(spec);
  if (start.error != 0) return std::nullopt;
  // The helper keeps the deadline itself; the backstop only ends one that
  // failed to (a hung bus library), which is no draft.
  const platform::ChildWait end =
      start.child.wait(portalBackstop(deadline), platform::AtDeadline::End);
  if (end.state != platform::ChildWait::State::Ended || !WIFEXITED(end.waitStatus)) {
    return failed(platform::kErrorLaunchFailed, "The Flatpak helper did not end in time.");
  }
  return hostRouteOutcome(WEXITSTATUS(end.waitStatus));
}

int openDraftOnHost(const MailContext& context, std::string_view request, std::int64_t maxLogSize) {
  const std::optional<Draft> draft = draftOfHostRequest(request);
  if (!draft || (!draft->recipient.empty() && !isPlainAddress(draft->recipient))) return kHostBadRequest;
  if (!draft->attachment.empty() && !logSharedWithHost(draft->attachment, maxLogSize)) return kHostLogNotShared;
  const MailFacts facts = gatherMailFacts(context);
  // A sandbox seen from the host would send the draft on once more.
  if (facts.sandboxed) return kHostInSandbox;
  const DraftRoute route = decideRoute(facts, *draft);
  if (route.kind == DraftRoute::Kind::Refuse) return kHostNoRoute;
  return carryOut(context, route, *draft).errorNumber == 0 ? kHostOpened : kHostNotOpened;
}

}  // namespace mail
