// The invariants of a decided route, whatever facts it was decided on: the
// targets that feed the route decision from parsed outside input (MAILER,
// desktop entries, the portal's desktop name, the recipient) all check them.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "mail/draft_route.h"
#include "mail/mail_address.h"
#include "testing/mailto.h"

namespace route_check {

using fuzz_input::require;

inline bool holdsNul(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word.find('\0') != std::string::npos) return true;
  }
  return false;
}

// A desktop entry's field codes, which stand for what the launcher puts in
// their place and never reach a program as they are.
inline bool isFieldCode(std::string_view word) {
  static constexpr std::array<std::string_view, 13> kCodes = {"%f", "%F", "%u", "%U", "%d", "%D", "%n",
                                                              "%N", "%i", "%c", "%k", "%v", "%m"};
  for (const std::string_view code : kCodes) {
    if (word == code) return true;
  }
  return false;
}

inline bool holdsFieldCode(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (isFieldCode(word)) return true;
  }
  return false;
}

// The decoded fields hold the draft: the same subject, body and recipient,
// no recipient when it has none, and the log when `log` names a field.
inline void requireDraft(const testing_support::DecodedUri& decoded, const mail::Draft& draft) {
  require(decoded.error.empty());
  const auto field = [&](const std::string& key) -> const std::string* {
    const auto found = decoded.fields.find(key);
    return found == decoded.fields.end() ? nullptr : &found->second;
  };
  require(field("subject") && *field("subject") == draft.subject);
  require(field("body") && *field("body") == draft.body);
  if (draft.recipient.empty()) {
    require(!field("to"));
  } else {
    require(field("to") && *field("to") == draft.recipient);
  }
  for (const char* attachmentKey : {"attach", "attachment"}) {
    if (const std::string* attached = field(attachmentKey)) require(*attached == draft.attachment);
  }
  // Nothing else: no text of the draft can add a field.
  for (const auto& [key, value] : decoded.fields) {
    require(key == "subject" || key == "body" || key == "to" || key == "attach" || key == "attachment");
  }
}

// Whether the log reaches the client: as a field, a word of its own, or
// Balsa's file: URL option.
inline bool carriesLog(const mail::DraftRoute& route, const mail::Draft& draft) {
  for (std::size_t i = 0; i < route.argv.size(); ++i) {
    const std::string& word = route.argv[i];
    if (word == draft.attachment || word == "--attach=" + mail::fileUrl(draft.attachment)) return true;
    if (word.starts_with("mailto:") || word.starts_with("--compose=mailto:")) {
      const auto decoded = testing_support::decodeMailto(word.substr(word.find("mailto:")));
      if (decoded.fields.count("attach")) return true;
    }
    if (i > 0 && route.argv[i - 1] == "-compose" && testing_support::decodeComposeFields(word).fields.count("attachment")) {
      return true;
    }
  }
  return false;
}

// The draft as the route hands it to the client: the last -compose field
// list or mailto: URI of the arguments, since the client's own arguments
// come after whatever options the user gave it.
inline void requireCarriesDraft(const mail::DraftRoute& route, const mail::Draft& draft) {
  for (std::size_t i = route.argv.size(); i-- > 0;) {
    const std::string& word = route.argv[i];
    if (word.starts_with("mailto:") || word.starts_with("--compose=mailto:")) {
      requireDraft(testing_support::decodeMailto(std::string_view(word).substr(word.find("mailto:"))), draft);
      return;
    }
    if (i > 0 && route.argv[i - 1] == "-compose") {
      requireDraft(testing_support::decodeComposeFields(word), draft);
      return;
    }
  }
  require(false);  // a started client that is not handed the draft
}

// Every route: no word holds a NUL (it would cut the word short on its way
// into a process); a start has a program; a client started through a
// launcher has a private channel to report on; the sandbox goes only
// through the portal; a log asked for is carried or nothing is started.
inline void requireSound(const mail::DraftRoute& route, const mail::MailFacts& facts, const mail::Draft& draft) {
  using Kind = mail::DraftRoute::Kind;
  require(!holdsNul(route.argv) && !holdsNul(route.launcher) && !holdsNul(route.startAloneAfterCrash));
  if (facts.sandboxed) {
    require(route.kind == Kind::Portal || route.kind == Kind::Refuse);
    if (route.kind == Kind::Portal) require(route.portalBackend == facts.portalBackend && route.argv.empty());
  } else {
    require(route.kind != Kind::Portal);
  }
  if (route.kind == Kind::Refuse) {
    require(!route.why.empty() && route.argv.empty() && route.launcher.empty());
    return;
  }
  if (route.kind == Kind::Portal) return;
  require(!route.argv.empty() && !route.argv.front().empty());
  if (route.kind == Kind::Watched) {
    require(facts.privateChannel && !route.launcher.empty() && !route.launcher.front().empty());
  } else {
    require(route.launcher.empty());
  }
  requireCarriesDraft(route, draft);
  if (!draft.attachment.empty()) require(carriesLog(route, draft));
}

// A draft as a job would ask for it: any subject and body, the log as an
// absolute path when there is one, and a recipient only when it is one
// plain address (the mail service refuses any other before a route is
// decided).
inline mail::Draft madeUpDraft(std::string subject, std::string body, const std::string& log,
                               const std::string& recipient) {
  mail::Draft draft;
  draft.subject = std::move(subject);
  draft.body = std::move(body);
  if (!log.empty()) draft.attachment = log.front() == '/' ? log : "/" + log;
  if (mail::isPlainAddress(recipient)) draft.recipient = recipient;
  return draft;
}

}  // namespace route_check
