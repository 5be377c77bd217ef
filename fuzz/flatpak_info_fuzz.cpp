// Feeds arbitrary sandbox information files to their reader. Whatever the
// text, a file with a NUL says nothing, the app path is empty or a plain
// absolute path, and a file under /app maps to a path under it on the host
// and nowhere else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "mail/flatpak_info.h"

namespace {

using fuzz_input::require;

// Absolute, with no empty, "." or ".." component.
bool plainAbsolute(std::string_view path) {
  if (!path.starts_with('/')) return false;
  path.remove_prefix(1);
  while (true) {
    const auto slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (component == "." || component == ".." || (component.empty() && slash != std::string_view::npos)) return false;
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz_input::bytesOf(data, size);
  const mail::FlatpakInfo info = mail::readFlatpakInfo(text);
  if (text.find('\0') != std::string_view::npos) {
    require(!info.mayTalkToFlatpakService && info.appPath.empty());
  }
  if (info.appPath.empty()) {
    require(mail::hostPathOfAppFile("/app/bin/helper", info.appPath).empty());
    return 0;
  }
  require(plainAbsolute(info.appPath) && info.appPath.size() <= text.size());
  const std::string host = mail::hostPathOfAppFile("/app/bin/helper", info.appPath);
  require(host.starts_with(info.appPath) && host.ends_with("/bin/helper"));
  require(mail::hostPathOfAppFile("/etc/passwd", info.appPath).empty());
  return 0;
}
