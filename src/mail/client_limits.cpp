#include "mail/client_limits.h"

#include <algorithm>

namespace mail {
namespace {

// The forwarded line is "<command> <URI>\n" in an 8,192-byte buffer; the
// commands' words take a few bytes, and a margin keeps clear of the cut.
constexpr std::size_t kForwardedLineLimit = 8000;

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

}  // namespace mail
