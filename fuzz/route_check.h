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

// A word decoded as a mailto: URI, or as Thunderbird's field list. Every
// fallback of a MAILER route with many commands carries the same long URI
// word, and each word is looked at twice (for the draft and for the log):
// decoding it again each time made the check grow with commands times the
// draft's length. The decoding is a function of the word alone, so the last
// word's result stands for an equal word.
inline const testing_support::DecodedUri& decodedMailto(std::string_view uri) {
  static std::string lastUri;
  static testing_support::DecodedUri last = testing_support::decodeMailto(lastUri);
  if (uri != lastUri) {
    last = testing_support::decodeMailto(uri);
    lastUri = uri;
  }
  return last;
}

inline const testing_support::DecodedUri& decodedComposeFields(std::string_view fields) {
  static std::string lastFields;
  static testing_support::DecodedUri last = testing_support::decodeComposeFields(lastFields);
  if (fields != lastFields) {
    last = testing_support::decodeComposeFields(fields);
    lastFields = fields;
  }
  return last;
}

// The decoded fields are the draft: the same subject, body and recipient,
// no recipient when it has none, the log where a field carries one, and
// nothing else.
inline bool matchesDraft(const testing_support::DecodedUri& decoded, const mail::Draft& draft) {
  const auto field = [&](const std::string& key) -> const std::string* {
    const auto found = decoded.fields.find(key);
    return found == decoded.fields.end() ? nullptr : &found->second;
  };
  if (!field("subject") || *field("subject") != draft.subject) return false;
  if (!field("body") || *field("body") != draft.body) return false;
  if (draft.recipient.empty() ? field("to") != nullptr : !field("to") || *field("to") != draft.recipient) return false;
  for (const auto& [key, value] : decoded.fields) {
    const bool attachment = key == "attach" || key == "attachment";
    if (attachment && value != draft.attachment) return false;
    if (!attachment && key != "subject" && key != "body" && key != "to") return false;
  }
  return true;
}

// Whether the log reaches the client: as a field, a word of its own, or
// Balsa's file: URL option.
inline bool carriesLog(const mail::DraftRoute& route, const mail::Draft& draft) {
  for (std::size_t i = 0; i < route.argv.size(); ++i) {
    const std::string& word = route.argv[i];
    if (word == draft.attachment || word == "--attach=" + mail::fileUrl(draft.attachment)) return true;
    if (word.starts_with("mailto:") || word.starts_with("--compose=mailto:")) {
      if (decodedMailto(std::string_view(word).substr(word.find("mailto:"))).fields.count("attach")) return true;
    }
    if (i > 0 && route.argv[i - 1] == "-compose" && decodedComposeFields(word).fields.count("attachment")) {
      return true;
    }
  }
  return false;
}

// Whether `word` hands a client the draft: a mailto: URI (alone or as
// Balsa's option) or, after -compose, Thunderbird's field list, decoding
// to exactly the draft's subject, body, recipient and log.
inline bool handsOverDraft(const std::vector<std::string>& argv, std::size_t i, const mail::Draft& draft) {
  const std::string& word = argv[i];
  const testing_support::DecodedUri* decoded = nullptr;
  if (word.starts_with("mailto:") || word.starts_with("--compose=mailto:")) {
    decoded = &decodedMailto(std::string_view(word).substr(word.find("mailto:")));
  } else if (i > 0 && argv[i - 1] == "-compose") {
    decoded = &decodedComposeFields(word);
  } else {
    return false;
  }
  return decoded->error.empty() && matchesDraft(*decoded, draft);
}

// A started client is handed the draft: one of its words decodes to it
// exactly, so no text of the draft has ended a value or added a field. (The
// user's own words around it may be anything.)
inline void requireCarriesDraft(const mail::DraftRoute& route, const mail::Draft& draft) {
  bool found = false;
  for (std::size_t i = 0; i < route.argv.size() && !found; ++i) found = handsOverDraft(route.argv, i, draft);
  require(found);
}

// Every route and each of its fallbacks: no word holds a NUL (it would cut
// the word short on its way into a process); a start has a program; a
// client started through a launcher has a private channel to report on;
// the sandbox goes only through the portal; a log asked for is carried or
// nothing is started.
inline void requireSound(const mail::DraftRoute& route, const mail::MailFacts& facts, const mail::Draft& draft) {
  using Kind = mail::DraftRoute::Kind;
  require(!holdsNul(route.argv) && !holdsNul(route.launcher) && !holdsNul(route.startAloneFirst));
  if (route.kind == Kind::Host) {
    // The helper on the host decides there; nothing of the draft is in the route.
    require(facts.sandboxed && !facts.hostDesktopHelper.empty() && route.argv == std::vector{facts.hostDesktopHelper});
    return;
  }
  if (facts.sandboxed) {
    require(route.kind == Kind::Portal || route.kind == Kind::Refuse);
    if (route.kind == Kind::Portal) require(route.portalBackend == facts.portalBackend && route.argv.empty());
  } else {
    require(route.kind != Kind::Portal);
  }
  if (route.kind == Kind::Refuse) {
    require(!route.why.empty() && route.argv.empty() && route.launcher.empty());
    for (const mail::DraftRoute& fallback : route.fallbacks) requireSound(fallback, facts, draft);
    return;
  }
  if (route.kind == Kind::Portal) return;
  require(!route.argv.empty() && !route.argv.front().empty());
  for (const mail::DraftRoute& fallback : route.fallbacks) requireSound(fallback, facts, draft);
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
