#include "mail/mail_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mail {
namespace {

TEST(PlainAddressTest, OrdinaryAddressesPass) {
  for (const std::string& address : std::vector<std::string>{"support@example.org", "first.last@mail.example.co.uk", "help+desk@x-y.example", "a@b.cd",
        "o!#$&*+/=?^_`{|}~-x@example.org", std::string(64, 'l') + "@example.org",
        "x@" + std::string(63, 'd') + ".org", "x@1.example.org"}) {
    EXPECT_TRUE(isPlainAddress(address)) << address;
  }
}

// Everything a client could read as a second recipient, a display name, a
// comment, another field or a header, and what would break a value on the
// way: each is refused.
TEST(PlainAddressTest, HostileAndMalformedAddressesAreRefused) {
  for (const std::string& address : std::vector<std::string>{
           "", "support", "@example.org", "support@", "support@example", "a@b@example.org",
           "a@example.org,b@example.org", "a@example.org;b@example.org", "a@example.org b@example.org",
           "Support <a@example.org>", "<a@example.org>", "\"a b\"@example.org", "a'b@example.org",
           "a(comment)@example.org", "a@example.org?cc=b@example.org", "a@example.org&cc=b@example.org",
           "a%40b@example.org", "a@example.org%0Acc:b@example.org", "a@example.org\nBcc: b@example.org",
           "a@example.org\r", std::string("a\0b@example.org", 15), "a\t@example.org", ".a@example.org",
           "a.@example.org", "a..b@example.org", "a@.example.org", "a@example..org", "a@-example.org",
           "a@example-.org", "a@exa_mple.org", "a@192.168.0.1", "a@[192.168.0.1]",
           "J\xC3\xB6rg@example.org", "a@b\xC3\xBC" "cher.de", std::string(65, 'l') + "@example.org",
           "x@" + std::string(64, 'd') + ".org",
           "x@" + std::string(60, 'a') + "." + std::string(60, 'b') + "." + std::string(60, 'c') + "." +
               std::string(60, 'e') + "." + std::string(60, 'f') + ".org"}) {
    EXPECT_FALSE(isPlainAddress(address)) << address;
  }
}

// Only the local part can hold characters that mean something in a URI or
// a field list; each of them is encoded, the '@' and the domain are not.
TEST(PlainAddressTest, EncodingLeavesNoDelimiterInTheLocalPart) {
  EXPECT_EQ(encodedAddress("support@example.org"), "support@example.org");
  EXPECT_EQ(encodedAddress("help+desk&to=x?#/{|}@example.org"), "help%2Bdesk%26to%3Dx%3F%23%2F%7B%7C%7D@example.org");
  EXPECT_EQ(encodedAddress(""), "");
}

}  // namespace
}  // namespace mail
