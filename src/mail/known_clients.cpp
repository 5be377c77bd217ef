#include "mail/known_clients.h"

#include <array>
#include <utility>

#include "platform/text.h"

namespace mail {
namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";

// The program names Debian's packages give the known clients. Each is also
// the client's desktop id there.
constexpr std::array<std::pair<std::string_view, Client>, 10> kKnownPrograms{{
    {"thunderbird", Client::Thunderbird},
    {"icedove", Client::Thunderbird},
    {"betterbird", Client::Thunderbird},
    {"evolution", Client::Evolution},
    {"claws-mail", Client::ClawsMail},
    {"sylpheed", Client::Sylpheed},
    {"balsa", Client::Balsa},
    {"neomutt", Client::NeoMutt},
    {"geary", Client::Geary},
    {"kmail", Client::KMail},
}};

// The other desktop ids, folded to lower case without ".desktop", that
// Debian's packages and Flathub give the clients' entries; the dotted ones
// are also the Flatpak application ids.
constexpr std::array<std::pair<std::string_view, Client>, 12> kOtherDesktopIds{{
    {"org.mozilla.thunderbird", Client::Thunderbird},
    {"net.thunderbird.thunderbird", Client::Thunderbird},
    {"eu.betterbird.betterbird", Client::Thunderbird},
    {"org.gnome.evolution", Client::Evolution},
    {"org.claws_mail.claws-mail", Client::ClawsMail},
    {"balsa-mailto-handler", Client::Balsa},
    {"org.desktop.balsa", Client::Balsa},
    {"org.gnome.geary", Client::Geary},
    {"org.kde.kmail2", Client::KMail},
    {"org.kde.kmail", Client::KMail},
    {"kmail2", Client::KMail},
    {"kmail_view", Client::KMail},
}};

template <std::size_t N>
Client lookUp(const std::array<std::pair<std::string_view, Client>, N>& table, std::string_view name) {
  for (const auto& [known, client] : table) {
    if (name == known) return client;
  }
  return Client::Unknown;
}

}  // namespace

std::string_view baseName(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

Client clientForDesktopId(const std::string& desktopId) {
  std::string id = platform::foldAsciiCase(desktopId);
  if (id.ends_with(kDesktopSuffix)) id.resize(id.size() - kDesktopSuffix.size());
  const Client client = lookUp(kKnownPrograms, id);
  return client != Client::Unknown ? client : lookUp(kOtherDesktopIds, id);
}

Client clientForProgram(std::string_view program) { return lookUp(kKnownPrograms, baseName(program)); }

Client clientForFlatpakId(std::string_view applicationId) {
  const std::string id = platform::foldAsciiCase(std::string(baseName(applicationId)));
  if (id.find('.') == std::string::npos) return Client::Unknown;
  return lookUp(kOtherDesktopIds, id);
}

bool takesAttachInUri(Client client) {
  return client == Client::Evolution || client == Client::ClawsMail || client == Client::Geary ||
         client == Client::KMail;
}

bool isComposeOption(Client client, std::string_view option) {
  switch (client) {
    case Client::Thunderbird:
      return option == "-compose" || option == "--compose" || option == "-mail";
    case Client::Balsa:
      return option == "-m" || option == "--compose";
    case Client::Sylpheed:
    case Client::ClawsMail:
      return option == "--compose";
    case Client::Evolution:
    case Client::NeoMutt:
    case Client::Geary:
    case Client::KMail:
    case Client::Unknown:
      break;
  }
  return false;
}

}  // namespace mail
