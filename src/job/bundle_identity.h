// Who the bundle speaks for: its build channel, the tool directory its jobs
// live in, the prefix every subject carries and the support address drafts
// go to. All four come from the bundle's information dictionary; the
// program and a host that prepares its jobs read them with this code, so
// the two can never disagree.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job/rule_breach.h"
#include "platform/plist_value.h"

// The keys of the bundle's information dictionary. The channel is required;
// the other three are optional, and a bundle without them keeps the
// defaults: the channel's tool directory (".vantrel-devtool-dev" for "dev",
// ".vantrel-devtool" for "prod"), the subject prefix kSubjectPrefix, and no
// recipient.
inline constexpr std::string_view kChannelKey = "QuorvelChannel";
inline constexpr std::string_view kSubjectPrefixKey = "SupportDraftSubjectPrefix";
inline constexpr std::string_view kToolDirectoryKey = "SupportDraftToolDirectory";
inline constexpr std::string_view kRecipientKey = "SupportDraftRecipient";

// A subject prefix leaves at least this much of kMaxSubjectSize to the
// subject's own text.
inline constexpr std::size_t kMaxSubjectPrefixSize = 100;
inline constexpr std::size_t kMaxToolDirectorySize = 64;

struct BundleIdentity {
  std::string channel;        // "dev" or "prod", as this code spells it
  std::string toolDirectory;  // a single name directly in the home directory
  std::string subjectPrefix;
  std::optional<std::string> recipient;  // one plain address; none: drafts without one
};

// The value rules, each as strict as the constants they stand in for:
//
// A subject prefix is valid UTF-8 of 1 to kMaxSubjectPrefixSize bytes whose
// characters are all printable (platform::isPrintableText: no line break,
// control, format or unassigned character) and whose first character is
// not a blank: nothing that could end a mail header or hide what it says.
bool isValidSubjectPrefix(std::string_view prefix);

// A tool directory is one hidden name of plain ASCII: '.', then a letter or
// digit, then letters, digits, '.', '-' and '_', at most
// kMaxToolDirectorySize bytes. So it is never "." or "..", never holds '/'
// or NUL, never begins with '-', and needs no quoting anywhere.
bool isValidToolDirectory(std::string_view name);

// A recipient is one plain address (mail::isPlainAddress).
bool isValidRecipient(std::string_view address);

// The identity in an information dictionary, or the first rule it breaks,
// in this order: bundleChannelUnknown (the channel absent, not text, or not
// canonically "dev" or "prod"), then bundleSubjectPrefixInvalid,
// bundleToolDirectoryInvalid, bundleRecipientInvalid (each for a key that is
// present but not text or not valid). The breach's path is empty.
struct BundleIdentityReading {
  std::optional<BundleIdentity> identity;
  std::optional<RuleBreach> breach;
};
BundleIdentityReading identityFromInfo(const platform::PlistDict& info);

// What a host finds at a bundle path, gathered apart from the decision.
struct BundleFacts {
  bool bundleIsDirectory = false;        // `path` is a directory (links followed)
  bool executableIsRegularFile = false;  // Contents/MacOS/support-draft is one (links followed)
  // The information dictionary, read as the program reads its own.
  platform::PlistDict info;
  // The executable's resolved path, as the program finds its own: its
  // helpers lie beside it. Empty when it could not be resolved.
  std::string resolvedExecutable;
};
// The executable's path is resolved first, as the program finds its own
// bundle through its resolved path: a bundle whose executable is a link
// reads the information dictionary of the bundle the link leads into.
BundleFacts bundleFacts(std::string_view bundlePath);

// The identity of the bundle at `bundlePath`, or why it has none the
// program would run with: bundleMissing (no directory there),
// bundleExecutableMissing, or identityFromInfo's breach with the bundle's
// path.
BundleIdentityReading bundleIdentity(std::string_view bundlePath, const BundleFacts& facts);
BundleIdentityReading readBundleIdentity(std::string_view bundlePath);  // bundleIdentity(path, bundleFacts(path))
