#include "running_jobs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "host_job.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace support_draft::host_side {
namespace {

constexpr std::size_t kMaxCommandLine = 4096;

}  // namespace

std::optional<std::string> jobOfCommandLine(std::string_view arguments) {
  std::vector<std::string_view> argv;
  while (!arguments.empty()) {
    const std::size_t end = arguments.find('\0');
    argv.push_back(arguments.substr(0, end));
    if (end == std::string_view::npos) break;
    arguments.remove_prefix(end + 1);
  }
  constexpr std::string_view kExecutable = "/support-draft";
  if (argv.size() != 3 || argv[1] != "--job") return std::nullopt;
  const std::string_view program = argv[0];
  if (program.size() < kExecutable.size() || program.substr(program.size() - kExecutable.size()) != kExecutable) {
    return std::nullopt;
  }
  return std::string(argv[2]);
}

std::set<std::string> jobsBeingRun() {
  std::set<std::string> jobs;
  platform::UniqueFd procFd(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!procFd) return jobs;
  const auto names = namesIn(procFd.get());
  if (!names) return jobs;
  const uid_t user = ::geteuid();
  for (const std::string& name : *names) {
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    struct stat facts {};
    // A process that made itself undumpable shows as root's: counted too,
    // since a job wrongly taken for running is only kept a little longer.
    if (::fstatat(procFd.get(), name.c_str(), &facts, 0) != 0 || (facts.st_uid != user && facts.st_uid != 0)) {
      continue;
    }
    const std::string path = "/proc/" + name + "/cmdline";
    const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) continue;
    const auto arguments = platform::readAtMost(file, kMaxCommandLine);
    if (!arguments) continue;
    if (auto job = jobOfCommandLine(*arguments)) jobs.insert(std::move(*job));
  }
  return jobs;
}

}  // namespace support_draft::host_side
