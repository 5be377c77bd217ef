#include "bundle_making.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "job/bundle_identity.h"
#include "platform/file_io.h"
#include "platform/info_dictionary.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "platform/write_all.h"

namespace support_draft::host_side {
namespace {

constexpr std::size_t kMaxNameSize = 64;
constexpr std::size_t kMaxIdentifierSize = 155;
// The programs are a few megabytes; anything far larger is not the kit's.
constexpr std::size_t kMaxCopiedFile = 256u << 20;

struct KitFile {
  const char* path;  // inside the bundle
  unsigned mode;
};
// What a bundle holds besides its Info.plist: the program, the helpers it
// starts, the watcher the host library starts it through and the mail
// draft script, which is the same for every bundle.
constexpr KitFile kKitFiles[] = {
    {"Contents/MacOS/support-draft", 0755},
    {"Contents/MacOS/support-draft-desktop", 0755},
    {"Contents/MacOS/support-draft-flatpak", 0755},
    {"Contents/MacOS/support-draft-portal", 0755},
    {"Contents/MacOS/support-draft-terminal", 0755},
    {"Contents/MacOS/support-draft-watcher", 0755},
    {"Contents/Resources/support-mail.applescript", 0644},
};
constexpr const char* kDirectories[] = {"Contents", "Contents/MacOS", "Contents/Resources"};

bool isAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

BundleMaking refused(HostReason reason, std::string text) {
  BundleMaking making;
  making.reason = reason;
  making.refusal = std::move(text);
  return making;
}

// The information dictionary of the requested bundle: the keys every bundle carries,
// and the identity keys only when they were asked for.
platform::PlistDict infoFor(const BundleSpec& spec) {
  using platform::PlistValue;
  platform::PlistDict info = {
      {"CFBundleDisplayName", PlistValue{spec.name}},
      {"CFBundleIdentifier", PlistValue{spec.identifier}},
      {"CFBundleExecutable", PlistValue{std::string("support-draft")}},
      {"CFBundlePackageType", PlistValue{std::string("APPL")}},
      {"LSUIElement", PlistValue{true}},
      {std::string(kChannelKey), PlistValue{spec.channel}},
  };
  if (spec.subjectPrefix) info[std::string(kSubjectPrefixKey)] = PlistValue{*spec.subjectPrefix};
  if (spec.toolDirectory) info[std::string(kToolDirectoryKey)] = PlistValue{*spec.toolDirectory};
  if (spec.recipient) info[std::string(kRecipientKey)] = PlistValue{*spec.recipient};
  return info;
}

bool writeNewFile(const std::string& path, std::string_view bytes, unsigned mode) {
  platform::UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  return file && platform::writeAll(file.get(), bytes) && ::fchmod(file.get(), mode) == 0 && ::fsync(file.get()) == 0;
}

// Removes what layOut made in `root`, and `root` itself: only the names it
// makes, never following a link.
void removeLaidOut(const std::string& root) {
  for (const KitFile& file : kKitFiles) ::unlink((root + "/" + file.path).c_str());
  ::unlink((root + "/Contents/Info.plist").c_str());
  for (auto d = std::rbegin(kDirectories); d != std::rend(kDirectories); ++d) ::rmdir((root + "/" + *d).c_str());
  ::rmdir(root.c_str());
}

// Lays out the bundle's contents in `root`, an empty directory just made.
std::string layOut(const std::string& root, const std::string& kitBundle, const std::string& info) {
  for (const char* directory : kDirectories) {
    if (::mkdir((root + "/" + directory).c_str(), 0755) != 0 || ::chmod((root + "/" + directory).c_str(), 0755) != 0) {
      return std::string("cannot make ") + directory + ": " + errorText(errno);
    }
  }
  for (const KitFile& file : kKitFiles) {
    const std::string source = kitBundle + "/" + file.path;
    const auto bytes = platform::readWholeFile(source, kMaxCopiedFile);
    if (!bytes) return "cannot read the kit's " + source;
    if (!writeNewFile(root + "/" + file.path, *bytes, file.mode)) {
      return std::string("cannot write ") + file.path + ": " + errorText(errno);
    }
  }
  if (!writeNewFile(root + "/Contents/Info.plist", info, 0644)) return "cannot write Contents/Info.plist: " + errorText(errno);
  return "";
}

}  // namespace

bool isValidBundleName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxNameSize && platform::isPrintableText(name) &&
         name.find('/') == std::string::npos && name.front() != '.' && !platform::startsWithBlank(name) &&
         name.back() != ' ';
}

bool isValidBundleIdentifier(const std::string& identifier) {
  if (identifier.empty() || identifier.size() > kMaxIdentifierSize) return false;
  std::size_t parts = 0;
  std::size_t partSize = 0;
  for (const char c : identifier) {
    if (c == '.') {
      if (partSize == 0) return false;
      ++parts;
      partSize = 0;
    } else if (isAsciiLetterOrDigit(c) || c == '-') {
      ++partSize;
    } else {
      return false;
    }
  }
  return partSize != 0 && parts >= 1;
}

BundleMaking makeBundle(const std::string& directory, const BundleSpec& spec, const std::string& kitBundle,
                        bool checkOnly) {
  if (!isValidBundleName(spec.name)) {
    return refused(HostReason::bundleNameInvalid,
                   "the bundle's name is not 1 to 64 bytes of printable UTF-8 without '/', not beginning with '.' "
                   "or a blank and not ending with a blank: " + spec.name);
  }
  if (!isValidBundleIdentifier(spec.identifier)) {
    return refused(HostReason::bundleIdentifierInvalid,
                   "the bundle's identifier is not reverse-DNS (letters, digits and '-' in two or more parts "
                   "separated by '.'): " + spec.identifier);
  }
  // The identity as the program will judge it, by the program's own code.
  const platform::PlistDict info = infoFor(spec);
  if (const BundleIdentityReading reading = identityFromInfo(info); reading.breach) {
    return refused(hostReason(reading.breach->reason), reasonSentence(*reading.breach));
  }
  const auto xml = platform::infoDictionaryXml(info);
  if (!xml) return refused(HostReason::bundleNotMade, "the Info.plist cannot be written");

  for (const KitFile& file : kKitFiles) {
    if (platform::pathKindFollowingLinks(kitBundle + "/" + file.path) != platform::PathKind::regularFile) {
      return refused(HostReason::bundleExecutableMissing,
                     "the kit's bundle holds no " + std::string(file.path) + ": " + kitBundle);
    }
  }
  if (directory.empty() || platform::pathKindFollowingLinks(directory) != platform::PathKind::directory) {
    return refused(HostReason::directoryMissing, "the directory does not exist: " + directory);
  }
  BundleMaking making;
  making.bundle = platform::appendingPathComponent(directory, spec.name + ".app");
  struct stat existing {};
  if (::lstat(making.bundle->c_str(), &existing) == 0) {
    return refused(HostReason::bundleNotMade, "the bundle exists already: " + *making.bundle);
  }
  if (checkOnly) return making;

  // Built under a temporary name beside its place, then moved there whole:
  // a bundle is either complete or not there.
  std::string temporary = platform::appendingPathComponent(directory, "." + spec.name + ".app.XXXXXX");
  if (::mkdtemp(temporary.data()) == nullptr) {
    return refused(HostReason::bundleNotMade, "cannot make a directory in " + directory + ": " + errorText(errno));
  }
  std::string failure;
  if (::chmod(temporary.c_str(), 0755) != 0) failure = "cannot set the bundle's mode: " + errorText(errno);
  if (failure.empty()) failure = layOut(temporary, kitBundle, *xml);
  if (failure.empty() &&
      ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, making.bundle->c_str(), RENAME_NOREPLACE) != 0) {
    failure = errno == EEXIST ? "the bundle exists already: " + *making.bundle
                              : "cannot move the bundle into place: " + errorText(errno);
  }
  if (!failure.empty()) {
    removeLaidOut(temporary);
    return refused(HostReason::bundleNotMade, failure);
  }
  // Read back as the program reads its own bundle: what was made is what
  // it will run with.
  const BundleIdentityReading made = readBundleIdentity(*making.bundle);
  if (!made.identity || made.identity->subjectPrefix != spec.subjectPrefix.value_or(made.identity->subjectPrefix) ||
      (spec.toolDirectory && made.identity->toolDirectory != *spec.toolDirectory) ||
      made.identity->recipient != spec.recipient) {
    removeLaidOut(*making.bundle);
    return refused(HostReason::bundleNotMade, "the bundle made does not read back as asked: " + *making.bundle);
  }
  return making;
}

std::optional<std::string> installedKitBundle(const std::string& relativeFromBinary) {
  const auto self = platform::executablePath();
  if (!self) return std::nullopt;
  const std::string binary = self->substr(0, self->rfind('/'));
  const std::string bundle = platform::standardizedPath(binary + "/" + relativeFromBinary);
  if (platform::pathKindFollowingLinks(bundle) != platform::PathKind::directory) return std::nullopt;
  return bundle;
}

}  // namespace support_draft::host_side
