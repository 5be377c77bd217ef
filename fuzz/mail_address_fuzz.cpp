// Feeds arbitrary recipients to the address check, and every address it
// takes into the mailto: URI and Thunderbird's field list: an address that
// passes is short, plain ASCII with one '@', and arrives as itself, the one
// recipient, with no field added.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "mail/draft_route.h"
#include "mail/mail_address.h"
#include "testing/mailto.h"

namespace {

using fuzz_input::require;

// Characters no plain address holds: what could start a display name, a
// comment, a second address, another field or an escape.
constexpr std::string_view kNeverPlain = " \t\r\n\"(),:;<>[]\\%'";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view address = fuzz_input::bytesOf(data, size);
  if (!mail::isPlainAddress(address)) return 0;

  require(address.size() <= 254);
  const auto at = address.find('@');
  require(at != std::string_view::npos && at > 0 && at <= 64 && address.find('@', at + 1) == std::string_view::npos);
  require(address.find_first_of(kNeverPlain) == std::string_view::npos);
  for (const char c : address) require(c > ' ' && c < 0x7f);
  // The domain has two labels or more.
  require(address.find('.', at) != std::string_view::npos);

  const std::string encoded = mail::encodedAddress(address);
  require(encoded.size() <= 3 * address.size());

  mail::Draft draft;
  draft.subject = "Support Request - Quorvel subject";
  draft.body = "body";
  draft.recipient = std::string(address);
  const auto uri = testing_support::decodeMailto(mail::mailtoUri(draft, false));
  require(uri.error.empty() && uri.fields.size() == 3);
  require(uri.fields.at("to") == address);

  // The same address in Thunderbird's field list ("to=...,subject=...").
  const auto fields = testing_support::decodeComposeFields("to=" + encoded + ",subject=s");
  require(fields.error.empty() && fields.fields.size() == 2 && fields.fields.at("to") == address);
  return 0;
}
