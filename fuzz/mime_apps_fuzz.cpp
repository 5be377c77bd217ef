// Feeds arbitrary MIME applications files (lists, a desktop's lists, old
// defaults and caches, at any level) to the default application decision.
// The answer is empty or an installed id as the files list it; an id
// removed before everything else is never the answer, and a default
// named before everything else always is.
//
// Input: files cut at 0x1E bytes (no key or group the rules read holds
// one); the first byte of each says its kind (low two bits) and its level
// (the next two).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "mail/mime_apps.h"

namespace {

using fuzz_input::require;

constexpr std::string_view kMailto = "x-scheme-handler/mailto";
constexpr char kFileSeparator = '\x1e';

// Whether an entry counts as installed: every id but those starting "un",
// so that the fuzzer can write both kinds.
bool installed(const std::string& id) { return !id.starts_with("un"); }

bool blank(char c) { return c == ' ' || c == '\t'; }

// An id as listedIds gives it: not empty, no blanks around it, within one
// line, no separator.
void requireWellFormedId(const std::string& id) {
  require(!id.empty() && !blank(id.front()) && !blank(id.back()) && id.back() != '\r');
  require(id.find_first_of(";\n") == std::string::npos);
}

std::vector<mail::MimeAppsFile> filesOf(std::string_view input) {
  std::vector<mail::MimeAppsFile> files;
  while (!input.empty()) {
    const auto end = input.find(kFileSeparator);
    std::string_view text = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    if (text.empty()) continue;
    const auto header = static_cast<unsigned char>(text.front());
    text.remove_prefix(1);
    mail::MimeAppsFile file;
    file.kind = static_cast<mail::MimeAppsFile::Kind>(header & 3);
    file.level = (header >> 2) & 3;
    file.text = std::string(text);
    files.push_back(std::move(file));
  }
  return files;
}

bool listedAnywhere(const std::vector<mail::MimeAppsFile>& files, const std::string& id) {
  for (const auto& file : files) {
    for (const char* group : {"Default Applications", "Added Associations", "MIME Cache"}) {
      for (const std::string& listed : mail::listedIds(file.text, group, kMailto)) {
        if (listed == id) return true;
      }
    }
  }
  return false;
}

mail::MimeAppsFile listOfOneLine(std::string_view group, const std::string& id) {
  return {mail::MimeAppsFile::Kind::List, 0, "[" + std::string(group) + "]\n" + std::string(kMailto) + "=" + id + "\n"};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<mail::MimeAppsFile> files = filesOf(fuzz_input::bytesOf(data, size));

  for (const auto& file : files) {
    for (const char* group : {"Default Applications", "Added Associations", "Removed Associations", "MIME Cache"}) {
      for (const std::string& id : mail::listedIds(file.text, group, kMailto)) requireWellFormedId(id);
    }
  }

  const std::string chosen = mail::defaultApplication(files, kMailto, installed);
  require(mail::defaultApplication(files, kMailto, installed) == chosen);
  if (chosen.empty()) return 0;
  requireWellFormedId(chosen);
  require(installed(chosen) && listedAnywhere(files, chosen));

  // The user's own list, read first, removing the association: it is
  // passed over wherever it is named.
  std::vector<mail::MimeAppsFile> removed = files;
  removed.insert(removed.begin(), listOfOneLine("Removed Associations", chosen));
  require(mail::defaultApplication(removed, kMailto, installed) != chosen);

  // ... or naming another installed default: that one decides.
  const std::string other = "x" + chosen;
  std::vector<mail::MimeAppsFile> overridden = files;
  overridden.insert(overridden.begin(), listOfOneLine("Default Applications", other));
  require(mail::defaultApplication(overridden, kMailto, installed) == other);
  return 0;
}
