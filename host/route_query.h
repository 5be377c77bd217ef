// Which route a job of a bundle would take in this session, asked before
// the job starts or after it failed: the program's own gathering of facts,
// decision and admission (mail/route_plan.h), linked in, with the bundle,
// home and environment the program would be given. Nothing is started.
#pragma once

#include <optional>
#include <string>

#include "job_chain.h"
#include "mail/route_answer.h"

namespace support_draft::host_side {

struct RouteQuery {
  std::optional<mail::RouteAnswer> answer;
  bool logAsked = false;  // the answer is for a job with a log
  Refusal refusal;
};

// For a job of the bundle at `bundle` in `home` ("" for the user's), with
// a log when `withLog`: the job's texts stand in as a subject of the
// bundle's prefix alone and an empty body, its log at the place a job's
// log.txt would have.
RouteQuery queryRoute(const std::string& bundle, const std::string& home, bool withLog);

// For the job on disk as its job document asks it: its subject, body and,
// when it asks for one, its log. A job document or a log that fails its
// check is refused with its rule: that, not the route, is what fails the job.
RouteQuery queryJobRoute(const std::string& bundle, const JobOnDisk& job);

// The answer as one compact JSON object (the command prints it): "route",
// "withLog" and "log" always; "assurance" for a route; "client",
// "handler", "portalBackend" and "reason" where they say something.
std::string routeAnswerJson(const mail::RouteAnswer& answer, bool logAsked);

}  // namespace support_draft::host_side
