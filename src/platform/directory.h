// A directory held open by descriptor, and locations of files within it.
//
// Once a directory is open, every operation on its files is made relative to
// the descriptor, so a link swapped into the directory's path afterwards
// cannot redirect a read or a write.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/file_facts.h"
#include "platform/unique_fd.h"

namespace platform {

// Where opening a directory stopped, for telling why: the standardised path
// up to and including the component that could not be opened, whether it
// does not exist, and what it is when it could be examined (a link is
// described as a link).
struct OpenStop {
  std::string path;
  bool missing = false;
  std::optional<FileFacts> facts;
};

class Directory {
 public:
  // Opens the directory at an absolute path, walking its standardised form
  // from the root one component at a time and refusing a symbolic link at
  // any of them. Nothing when any component is missing, not a directory, a
  // link, or cannot be searched. `path()` is the standardised path, the one
  // that was walked, never the text as given: "." and ".." in the text may
  // step through components that do not exist or are replaced later.
  // With `stop`, a failure also says where and why it stopped (nothing is
  // gathered on success).
  static std::optional<Directory> openWithoutLinks(std::string_view path, OpenStop* stop = nullptr);

  // Opens the directory `name` directly inside `parent`, through the
  // parent's descriptor and without following a link. `name` is one path
  // component, neither "." nor "..". Nothing when it cannot be opened.
  static std::optional<Directory> openChildWithoutLinks(const Directory& parent, std::string_view name,
                                                        OpenStop* stop = nullptr);

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }

 private:
  Directory(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  UniqueFd fd_;
  std::string path_;
};

// A file directly inside an open directory. `path()` is the text path built
// from the directory's path, for handing on to others.
struct FileLocation {
  const Directory* directory = nullptr;
  std::string name;

  std::string path() const;
};

FileLocation childOf(const Directory& directory, std::string_view name);

// Facts about the item at `location` itself; a final symbolic link is
// described as a link, never followed. Nothing when the item cannot be
// examined (it does not exist, for instance).
std::optional<FileFacts> fileFacts(const FileLocation& location);

// Facts about an open directory, from its descriptor: no path is looked up.
std::optional<FileFacts> fileFacts(const Directory& directory);

}  // namespace platform
