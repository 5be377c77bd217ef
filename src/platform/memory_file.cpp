#include "platform/memory_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "platform/write_all.h"

#ifndef MFD_NOEXEC_SEAL
#define MFD_NOEXEC_SEAL 0x0008U
#endif

namespace platform {

std::optional<UniqueFd> sealedMemoryFile(std::string_view bytes) {
  // Kernels that forbid executable memory files refuse one without
  // MFD_NOEXEC_SEAL; kernels that predate it refuse the flag.
  UniqueFd fd(memfd_create("draft", MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_NOEXEC_SEAL));
  if (!fd && errno == EINVAL) fd.reset(memfd_create("draft", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd || !writeAll(fd.get(), bytes)) return std::nullopt;
  // The reader gets the same file, not a copy: sealed, it cannot be changed
  // by whoever else holds it.
  if (fcntl(fd.get(), F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0) return std::nullopt;
  if (lseek(fd.get(), 0, SEEK_SET) != 0) return std::nullopt;
  return fd;
}

}  // namespace platform
