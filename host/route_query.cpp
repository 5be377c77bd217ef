#include "route_query.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "host_home.h"
#include "host_run.h"
#include "job/bundle_identity.h"
#include "job/job_contract.h"
#include "job/job_document.h"
#include "job/job_log.h"
#include "mail/program_search.h"
#include "mail/route_plan.h"
#include "platform/bundle.h"
#include "platform/directory.h"
#include "platform/paths.h"

namespace support_draft::host_side {
namespace {

// Stands in for a job's id in the path of its log: the characters of every
// id are those of this one, so the path is judged as a real job's would be.
constexpr const char* kStandInJobId = "00000000-0000-0000-0000-000000000000";

// What the program of the bundle would be given to decide its route.
struct ProgramSetting {
  BundleIdentity identity;
  mail::MailContext context;
};

struct Setting {
  std::optional<ProgramSetting> setting;
  Refusal refusal;
};

// The bundle's identity, and the context the program would build: its
// helpers beside the executable as the program finds its own (the
// executable's path resolved), the host's environment with HOME set to the
// home, cut down as the program cuts down its own.
Setting settingFor(const std::string& bundle, const std::string& home) {
  Setting found;
  const BundleFacts facts = bundleFacts(bundle);
  const BundleIdentityReading reading = bundleIdentity(bundle, facts);
  if (!reading.identity) {
    found.refusal = refusalFor(*reading.breach);
    return found;
  }
  if (facts.resolvedExecutable.empty()) {
    found.refusal = refusalFor(RuleBreach{Reason::bundleExecutableMissing, bundle});
    return found;
  }
  const std::string helperDirectory = platform::bundleForExecutable(facts.resolvedExecutable).executableDirectory;
  found.setting = ProgramSetting{
      *reading.identity,
      mail::routeContext(mail::handedOnEnvironment(programEnvironment(home)), home, helperDirectory)};
  return found;
}

RouteQuery answered(const mail::MailContext& context, const mail::Draft& draftWithLog, bool logAsked) {
  const mail::LogRoutes routes = mail::planLogRoutes(context, draftWithLog);
  return {mail::answerRoute(routes.facts, routes.withLog, routes.withoutLog, logAsked), logAsked, {}};
}

RouteQuery refused(Refusal refusal) { return {std::nullopt, false, std::move(refusal)}; }

}  // namespace

RouteQuery queryRoute(const std::string& bundle, const std::string& givenHome, bool withLog) {
  Refusal refusal;
  const std::optional<std::string> home = homeFor(givenHome, refusal);
  if (!home) return refused(std::move(refusal));
  const Setting found = settingFor(bundle, *home);
  if (!found.setting) return refused(found.refusal);
  const ProgramSetting& setting = *found.setting;
  mail::Draft draft;
  draft.subject = setting.identity.subjectPrefix;
  draft.recipient = setting.identity.recipient.value_or("");
  draft.attachment = platform::appendingPathComponent(
      platform::appendingPathComponent(draftsPath(*home, setting.identity.toolDirectory), kStandInJobId), kLogName);
  return answered(setting.context, draft, withLog);
}

RouteQuery queryJobRoute(const std::string& bundle, const JobOnDisk& job) {
  const Setting found = settingFor(bundle, job.home);
  if (!found.setting) return refused(found.refusal);
  const ProgramSetting& setting = *found.setting;
  const JobChain chain = openJobChain(job);
  if (!chain.job) return refused(chain.refusal);
  const JobDocumentCheck document = checkJobDocumentIn(*chain.job, setting.identity.subjectPrefix);
  if (!document.job) return refused(refusalFor(*document.breach));
  // The log's path as the program hands it on: the job directory's path as
  // built, not as resolved.
  const platform::FileLocation log = platform::childOf(*chain.job, kLogName);
  if (document.job->attachLogs) {
    if (const auto breach = logBreach(log)) return refused(refusalFor(*breach));
  }
  mail::Draft draft;
  draft.subject = document.job->subject;
  draft.body = document.job->body;
  draft.recipient = setting.identity.recipient.value_or("");
  draft.attachment = log.path();
  return answered(setting.context, draft, document.job->attachLogs);
}

std::string routeAnswerJson(const mail::RouteAnswer& answer, bool logAsked) {
  // In the order a reader takes them in: the route first.
  nlohmann::ordered_json json = {{"route", std::string(mail::wayName(answer.way))},
                                 {"withLog", logAsked},
                                 {"log", std::string(mail::logName(answer.log))}};
  if (answer.way == mail::RouteAnswer::Way::None) {
    json["reason"] = answer.why;
  } else {
    json["assurance"] = std::string(mail::proofName(answer.proof));
  }
  if (answer.client != mail::Client::Unknown) json["client"] = std::string(mail::clientName(answer.client));
  if (!answer.handler.empty()) json["handler"] = answer.handler;
  if (answer.way == mail::RouteAnswer::Way::Portal) {
    json["portalBackend"] = std::string(mail::portalBackendName(answer.portalBackend));
  }
  // A desktop id or a reason read from the user's files may hold bytes that
  // are not UTF-8.
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace support_draft::host_side
