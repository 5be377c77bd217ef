#include "mail/mail_address.h"

#include "mail/percent_encoding.h"

namespace mail {
namespace {

constexpr std::size_t kMaxAddress = 254;
constexpr std::size_t kMaxLocalPart = 64;
constexpr std::size_t kMaxLabel = 63;

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// The atom characters of an address without the two that mean something
// to the routes: '%' starts an escape in every URI, and '\'' quotes a
// value in Thunderbird's field list.
bool isAtomCharacter(char c) {
  return isLetterOrDigit(c) || std::string_view("!#$&*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

// Parts of `text` between `separator`s, each checked by `valid`; no part
// may be empty, so no separator may lead, trail or follow another.
template <typename Valid>
bool allParts(std::string_view text, char separator, Valid valid) {
  for (;;) {
    const auto end = text.find(separator);
    if (!valid(text.substr(0, end))) return false;
    if (end == std::string_view::npos) return true;
    text.remove_prefix(end + 1);
  }
}

bool isAtom(std::string_view atom) {
  if (atom.empty()) return false;
  for (const char c : atom) {
    if (!isAtomCharacter(c)) return false;
  }
  return true;
}

bool isLabel(std::string_view label) {
  if (label.empty() || label.size() > kMaxLabel || label.front() == '-' || label.back() == '-') return false;
  for (const char c : label) {
    if (!isLetterOrDigit(c) && c != '-') return false;
  }
  return true;
}

bool isDomain(std::string_view domain) {
  const auto lastDot = domain.rfind('.');
  if (lastDot == std::string_view::npos || !allParts(domain, '.', isLabel)) return false;
  // A last label of digits alone would make the domain read as an IPv4
  // address.
  return domain.substr(lastDot + 1).find_first_not_of("0123456789") != std::string_view::npos;
}

}  // namespace

bool isPlainAddress(std::string_view address) {
  if (address.size() > kMaxAddress) return false;
  const auto at = address.find('@');
  if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos) return false;
  const std::string_view local = address.substr(0, at);
  return local.size() <= kMaxLocalPart && allParts(local, '.', isAtom) && isDomain(address.substr(at + 1));
}

std::string encodedAddress(std::string_view address) {
  const auto at = address.rfind('@');
  if (at == std::string_view::npos) return percentEncode(address);
  return percentEncode(address.substr(0, at)) + "@" + percentEncode(address.substr(at + 1));
}

}  // namespace mail
