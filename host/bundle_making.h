// Making an application's own bundle from the installed kit: the program,
// its helpers and the mail draft script copied from the kit's bundle, with
// an Info.plist that gives the application's name, identifier, channel and,
// when it wants them, its own subject prefix, tool directory and support
// address. What the command's --make-bundle and the CMake function
// support_draft_add_bundle do.
#pragma once

#include <optional>
#include <string>

#include "reason_codes.h"

namespace support_draft::host_side {

struct BundleSpec {
  std::string name;        // CFBundleDisplayName, and the bundle's directory name <name>.app
  std::string identifier;  // CFBundleIdentifier
  std::string channel;     // "dev" or "prod"
  std::optional<std::string> subjectPrefix;
  std::optional<std::string> toolDirectory;
  std::optional<std::string> recipient;
};

// A name is printable text (no line break, control or format character)
// of 1 to 64 bytes, without '/', not beginning with '.' or a blank and not
// ending with a blank: one plain directory name that a person can read.
bool isValidBundleName(const std::string& name);

// An identifier is reverse-DNS: two or more non-empty parts separated by
// '.', each of ASCII letters, digits and '-', at most 155 bytes in all.
bool isValidBundleIdentifier(const std::string& identifier);

struct BundleMaking {
  std::optional<std::string> bundle;  // the path of the bundle made (or that would be made)
  HostReason reason = HostReason::none;
  std::string refusal;
};

// Checks the requested values with the program's own rules (the channel, the prefix,
// the tool directory and the address as identityFromInfo judges them) and
// the kit bundle at `kitBundle` (its program, helpers and script must be
// there). Unless `checkOnly`, lays out <directory>/<name>.app: it is built
// beside its place under a temporary name and moved there whole; an
// existing <name>.app is never replaced. The bundle made is read back as
// the program will read it before it is reported.
BundleMaking makeBundle(const std::string& directory, const BundleSpec& spec, const std::string& kitBundle,
                        bool checkOnly);

// The kit's own installed bundle, found from the running program's place
// (<prefix>/bin/ -> <prefix>/<relative>); nothing when it is not there.
std::optional<std::string> installedKitBundle(const std::string& relativeFromBinary);

}  // namespace support_draft::host_side
