#pragma once
// Putting a downloaded program in place of the running one. On this system
// the new file takes the old one's name in a single rename inside the
// executable's own directory, so the path holds either the old program or
// the whole new one at every moment, and the new program then replaces the
// running one in the same process. Nothing else is killed and nothing is
// left behind.
#include <string>
#include <vector>

#include "text/text.h"

namespace korvani {

// The running program's file, absolute, symbolic links resolved. Must be
// read before the file is replaced.
std::string running_executable_path();
// The arguments the program was started with, argv[0] included.
std::vector<std::string> running_arguments();

std::string directory_of(const std::string& path);
// "update.exe.tmp" in the executable's directory.
std::string update_temp_path(const std::string& executable_path);

// Empty when `path` holds a whole program this system can run: an ELF file
// of the running program's class, byte order and machine, whose program
// headers, loaded segments and section table all lie inside the file (a body
// cut short fails there). Otherwise the user's message.
Text check_new_executable(const std::string& path);

// Makes `new_file` executable (the old program's permissions, with the
// execute bits) and renames it over `executable_path`; both must be in the
// same directory. Empty on success; otherwise the message, with the new file
// removed and the old program untouched.
Text replace_executable(const std::string& executable_path, const std::string& new_file);

// Starts `executable_path` in place of this process with `arguments`
// (argv[0] becomes the absolute path). Returns only when that failed, with
// the message.
Text restart_executable(const std::string& executable_path, const std::vector<std::string>& arguments);

// The restarted program inherits the replaced one's children (the embedded
// browser's helper processes). They end as soon as the old program is gone,
// and only their parent can clear them away: called once at start-up, this
// waits for the ones the restart named, and for no other.
void reap_children_left_by_restart();

}  // namespace korvani
