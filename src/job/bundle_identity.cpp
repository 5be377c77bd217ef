#include "job/bundle_identity.h"

#include <utility>

#include "job/job_contract.h"
#include "mail/mail_address.h"
#include "platform/bundle.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kChannelNames[] = {"dev", "prod"};
constexpr std::string_view kProgramName = "support-draft";

bool isAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The text under `key`: nothing when the key is absent; a null pointer
// inside when it is present but not text.
struct KeyText {
  bool present = false;
  const std::string* text = nullptr;
};
KeyText keyText(const platform::PlistDict& info, std::string_view key) {
  const auto found = info.find(std::string(key));
  if (found == info.end()) return {};
  return {true, found->second.as<std::string>()};
}

// The channel a text names: canonically equal to "dev" or "prod".
std::optional<std::string> channelNamed(std::string_view text) {
  for (const std::string_view name : kChannelNames) {
    if (platform::canonicallyEqual(text, name)) return std::string(name);
  }
  return std::nullopt;
}

// An optional key's value: the default when absent, the text when present
// and valid, nothing (a breach) otherwise.
template <typename Valid>
std::optional<std::string> optionalValue(const platform::PlistDict& info, std::string_view key,
                                         std::string fallback, Valid valid) {
  const KeyText value = keyText(info, key);
  if (!value.present) return fallback;
  if (value.text == nullptr || !valid(*value.text)) return std::nullopt;
  return *value.text;
}

BundleIdentityReading breached(Reason reason) { return {std::nullopt, RuleBreach{reason, ""}}; }

}  // namespace

bool isValidSubjectPrefix(std::string_view prefix) {
  return !prefix.empty() && prefix.size() <= kMaxSubjectPrefixSize && platform::isPrintableText(prefix) &&
         !platform::startsWithBlank(prefix);
}

bool isValidToolDirectory(std::string_view name) {
  if (name.size() < 2 || name.size() > kMaxToolDirectorySize || name[0] != '.' || !isAsciiLetterOrDigit(name[1])) {
    return false;
  }
  for (const char c : name) {
    if (!isAsciiLetterOrDigit(c) && c != '.' && c != '-' && c != '_') return false;
  }
  return true;
}

bool isValidRecipient(std::string_view address) { return mail::isPlainAddress(address); }

BundleIdentityReading identityFromInfo(const platform::PlistDict& info) {
  const KeyText channelText = keyText(info, kChannelKey);
  const auto channel = channelText.text != nullptr ? channelNamed(*channelText.text) : std::nullopt;
  if (!channel) return breached(Reason::bundleChannelUnknown);

  auto prefix = optionalValue(info, kSubjectPrefixKey, std::string(kSubjectPrefix), isValidSubjectPrefix);
  if (!prefix) return breached(Reason::bundleSubjectPrefixInvalid);
  auto toolDirectory = optionalValue(info, kToolDirectoryKey, *toolDirectoryName(*channel), isValidToolDirectory);
  if (!toolDirectory) return breached(Reason::bundleToolDirectoryInvalid);
  std::optional<std::string> recipient;
  if (const KeyText address = keyText(info, kRecipientKey); address.present) {
    if (address.text == nullptr || !isValidRecipient(*address.text)) return breached(Reason::bundleRecipientInvalid);
    recipient = *address.text;
  }

  BundleIdentityReading reading;
  reading.identity = BundleIdentity{*channel, std::move(*toolDirectory), std::move(*prefix), std::move(recipient)};
  return reading;
}

BundleFacts bundleFacts(std::string_view bundlePath) {
  BundleFacts facts;
  facts.bundleIsDirectory = platform::pathKindFollowingLinks(bundlePath) == platform::PathKind::directory;
  if (!facts.bundleIsDirectory) return facts;
  const std::optional<std::string> absolute = platform::absolutePath(bundlePath);
  if (!absolute) return facts;
  const std::string executable = platform::executableInBundle(*absolute, kProgramName);
  facts.executableIsRegularFile = platform::pathKindFollowingLinks(executable) == platform::PathKind::regularFile;
  if (!facts.executableIsRegularFile) return facts;
  if (auto resolved = platform::resolvingSymlinksInPath(executable)) {
    facts.info = platform::bundleForExecutable(*resolved).info;
    facts.resolvedExecutable = std::move(*resolved);
  }
  return facts;
}

BundleIdentityReading bundleIdentity(std::string_view bundlePath, const BundleFacts& facts) {
  const std::string path(bundlePath);
  if (!facts.bundleIsDirectory) return BundleIdentityReading{std::nullopt, RuleBreach{Reason::bundleMissing, path}};
  if (!facts.executableIsRegularFile) {
    return BundleIdentityReading{std::nullopt, RuleBreach{Reason::bundleExecutableMissing, path}};
  }
  BundleIdentityReading reading = identityFromInfo(facts.info);
  if (reading.breach) reading.breach->path = path;
  return reading;
}

BundleIdentityReading readBundleIdentity(std::string_view bundlePath) {
  return bundleIdentity(bundlePath, bundleFacts(bundlePath));
}
