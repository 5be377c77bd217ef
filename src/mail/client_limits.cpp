#include "mail/client_limits.h"

#include <algorithm>
#include <cctype>

namespace mail {
namespace {

// The forwarded line is "<command> <URI>\n" in an 8,192-byte buffer; the
// commands' words take a few bytes, and a margin keeps clear of the cut.
constexpr std::size_t kForwardedLineLimit = 8000;

// "%25" and two hexadecimal digits: a written '%' and two digits, encoded
// once, which a second decoding turns into another character.
bool holdsEncodedEscape(const std::string& word) {
  for (auto at = word.find("%25"); at != std::string::npos; at = word.find("%25", at + 1)) {
    if (at + 4 < word.size() && std::isxdigit(static_cast<unsigned char>(word[at + 3])) != 0 &&
        std::isxdigit(static_cast<unsigned char>(word[at + 4])) != 0) return true;
  }
  return false;
}

}  // namespace

std::optional<std::size_t> longestArgument(Client client) {
  switch (client) {
    case Client::ClawsMail:
    case Client::Sylpheed:
      return kForwardedLineLimit;
    case Client::Thunderbird:
    case Client::Evolution:
    case Client::Balsa:
    case Client::NeoMutt:
    case Client::Geary:
    case Client::KMail:
    case Client::Unknown:
      break;
  }
  return std::nullopt;
}

bool fitsClient(Client client, const std::vector<std::string>& argv) {
  const auto limit = longestArgument(client);
  if (!limit) return true;
  return std::all_of(argv.begin(), argv.end(), [&](const std::string& word) { return word.size() <= *limit; });
}

bool keepsTexts(Client client, const std::vector<std::string>& argv) {
  return client != Client::KMail || std::none_of(argv.begin(), argv.end(), holdsEncodedEscape);
}

bool showsEveryRequest(Client client) { return client != Client::Sylpheed; }

}  // namespace mail
