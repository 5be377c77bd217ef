// The mail clients whose own ways of taking a draft are known, by the names
// their programs, desktop entries and Flatpak applications carry.
#pragma once

#include <string>
#include <string_view>

namespace mail {

enum class Client { Unknown, Thunderbird, Evolution, ClawsMail, Sylpheed, Balsa, NeoMutt, Geary, KMail };

// The client behind a desktop id ("thunderbird.desktop",
// "org.mozilla.Thunderbird.desktop", ...) or a Flatpak application id
// ("org.mozilla.Thunderbird"), ignoring ASCII case and the ".desktop"
// suffix.
Client clientForDesktopId(const std::string& desktopId);

// The client a program path names by its last component ("neomutt",
// "/usr/bin/thunderbird"); Unknown for any other.
Client clientForProgram(std::string_view program);

// The client a Flatpak application id names ("org.mozilla.Thunderbird"):
// only the dotted ids, never a plain program name.
Client clientForFlatpakId(std::string_view applicationId);

// Whether the client takes attach= from a mailto: URI.
bool takesAttachInUri(Client client);

// Whether `option` is the client's own option for a mailto: URI or a
// compose window ("balsa -m %U"): the client's own arguments take its place.
bool isComposeOption(Client client, std::string_view option);

// The last component of a path.
std::string_view baseName(std::string_view path);

}  // namespace mail
