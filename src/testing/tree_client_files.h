// A mail client's files made up by a test: each by "home/…" or "config/…"
// path, with no lock held anywhere. The route tests admit routes with it.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "mail/client_setup.h"

namespace testing_support {

class TreeFiles final : public mail::ClientFiles {
 public:
  explicit TreeFiles(std::map<std::string, std::string> files) : files_(std::move(files)) {}
  mail::ConfigFile read(mail::FileBase base, const std::string& path) const override {
    const auto found = files_.find((base == mail::FileBase::Home ? "home/" : "config/") + path);
    if (found == files_.end()) return {};
    return {mail::ConfigFile::State::Text, found->second};
  }
  std::vector<std::string> list(mail::FileBase, const std::string&) const override { return {}; }
  mail::ProfileLock profileLock(mail::FileBase, const std::string&) const override { return {}; }

 private:
  std::map<std::string, std::string> files_;
};

// A Claws Mail with an account and a mailbox: it shows its composer.
inline const std::map<std::string, std::string> kClawsSetUp = {
    {"home/.claws-mail/accountrc", "[Account: 1]\naddress=a@example.org\n"},
    {"home/.claws-mail/folderlist.xml", "<folderlist>\n<folder type=\"mh\" name=\"Mailbox\">\n"}};

}  // namespace testing_support
