#pragma once
// Where the files that belong beside the executable (the catalog cache, the
// response log) are written. Beside the executable is where the user looks
// for them, but an installed tool (say in /usr/bin) may not write there, and
// a cache that cannot be written would leave the catalog list empty.
// Paths are in the file system's encoding (UTF-8), not in the code page.
#include <string>

namespace korvani {

// `exe_dir` when a file can be created in it; otherwise `fallback_dir`,
// created (with its parents) when missing. When neither is writable the
// fallback is still answered: the writers then say which file failed.
std::string choose_files_dir(const std::string& exe_dir, const std::string& fallback_dir);

// The same, unless the environment names a directory in KORVANI_FILES_DIR
// (tests and portable set-ups), which is then created and used as is.
std::string resolve_files_dir(const std::string& exe_dir, const std::string& fallback_dir);

// True when a file can be created in `dir` (tried, not guessed from the mode
// bits: root may write into a directory marked read-only, and a read-only
// mount refuses everyone).
bool directory_writable(const std::string& dir);

}  // namespace korvani
