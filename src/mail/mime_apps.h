// Which application opens a MIME type (here x-scheme-handler/mailto) by
// default, decided by the XDG MIME applications rules on the texts of the
// files that hold them. Finding and reading those files is
// mime_apps_files.h's part; this part touches no disk.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// One file that takes part in the decision.
struct MimeAppsFile {
  enum class Kind {
    List,         // mimeapps.list: defaults, added and removed associations
    DesktopList,  // <desktop>-mimeapps.list: defaults only
    OldDefaults,  // defaults.list of a data directory: defaults, read after every list
    Cache,        // mimeinfo.cache of a data directory: the entries that name the type
  };
  Kind kind = Kind::List;
  // Whose desktop entries the file speaks for. An association removed in a
  // list holds for the entries of its own directory and every later one:
  // 0 for the configuration directories (every entry), 1 + n for the files
  // of the n-th data directory.
  std::size_t level = 0;
  std::string text;
};

// The desktop ids a key file lists for `key` in `[group]`, in order: the
// first such key of the file counts, blanks around '=' and around each id
// are dropped, and so are empty ids. Lines starting with '#' are comments.
std::vector<std::string> listedIds(std::string_view text, std::string_view group, std::string_view key);

// The desktop id of the application that opens `mimeType` by default, or ""
// when there is none. `files` stand in order of precedence; `installed`
// says whether a desktop id names an entry that can be started.
//
// 1. The [Default Applications] of each list in turn (a desktop's own list
//    before the plain one of the same directory); within a list, the first
//    installed id. An id whose association the same list or an earlier one
//    removed is passed over.
// 2. The same for the defaults.list files of the data directories.
// 3. The most preferred association: the [Added Associations] of each list
//    in turn, then the entries that name the type themselves (the caches
//    of the data directories in order), less the removed ones.
std::string defaultApplication(const std::vector<MimeAppsFile>& files, std::string_view mimeType,
                               const std::function<bool(const std::string&)>& installed);

}  // namespace mail
