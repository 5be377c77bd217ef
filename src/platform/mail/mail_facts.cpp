#include "platform/mail/mail_facts.h"

#include <sys/stat.h>

#include <cstdlib>

#include "platform/home.h"
#include "platform/mail/desktop_entry.h"
#include "platform/mail/report_channel.h"
#include "platform/run_program.h"

namespace platform::mail {
namespace {

bool isSet(const char* value) { return value != nullptr && *value != '\0'; }

}  // namespace

std::string desktopIdFromAnswer(const std::string& answer) {
  std::string_view line = std::string_view(answer).substr(0, answer.find('\n'));
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
  return std::string(line);
}

MailFacts gatherMailFacts() {
  MailFacts facts;
  struct stat sandboxInfo {};
  facts.sandboxed = ::lstat("/.flatpak-info", &sandboxInfo) == 0;
  if (facts.sandboxed) {
    // A Flatpak sandbox passes the desktop's name through; the portal
    // picks its backend by the same name.
    facts.portalBackend = portalBackendForDesktop(std::getenv("XDG_CURRENT_DESKTOP"));
    return facts;
  }
  facts.privateChannel = isPrivateRuntimeDirectory(std::getenv("XDG_RUNTIME_DIR"));
  if (const char* mailer = std::getenv("MAILER"); isSet(mailer)) {
    facts.mailer = mailer;
    return facts;
  }
  const auto answer = platform::runProgram({"xdg-mime", "query", "default", "x-scheme-handler/mailto"});
  if (answer.errorNumber != 0) return facts;
  facts.handlerId = desktopIdFromAnswer(answer.output);
  const std::vector<std::string> directories =
      dataDirectories(std::getenv("XDG_DATA_HOME"), std::getenv("XDG_DATA_DIRS"), homeDirectory().value_or(""));
  if (const auto entry = findDesktopEntry(directories, facts.handlerId)) {
    facts.exec = entry->exec;
    facts.terminal = entry->terminal;
  }
  return facts;
}

}  // namespace platform::mail
