#include "update/replace.h"

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string_view>
#include <thread>

namespace korvani {

namespace {

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Shdr = ElfW(Shdr);

#if __SIZEOF_POINTER__ == 8
constexpr unsigned char kOwnClass = ELFCLASS64;
#else
constexpr unsigned char kOwnClass = ELFCLASS32;
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kOwnData = ELFDATA2LSB;
#else
constexpr unsigned char kOwnData = ELFDATA2MSB;
#endif

Text message_of(const std::string& utf8) { return utf8_to_ansi(utf8); }

std::string error_text(int error) { return std::strerror(error); }

bool read_at(int fd, void* into, std::size_t size, std::uint64_t at) {
  auto* p = static_cast<char*>(into);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
    at += static_cast<std::uint64_t>(n);
  }
  return true;
}

// True when [offset, offset + count * entry) lies inside a file of `size` bytes.
bool inside(std::uint64_t offset, std::uint64_t count, std::uint64_t entry, std::uint64_t size) {
  if (offset > size) return false;
  if (entry != 0 && count > (size - offset) / entry) return false;
  return true;
}

// The machine the running program was built for, as its own file says.
int own_machine() {
  static const int machine = [] {
    int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    Ehdr header{};
    const bool ok = read_at(fd, &header, sizeof header, 0);
    ::close(fd);
    return ok ? static_cast<int>(header.e_machine) : -1;
  }();
  return machine;
}

// Files the replaced program must not inherit: sockets to the servers, the
// display connection. close_range is not there on older kernels.
void close_on_exec_from(int first) {
  if (::close_range(static_cast<unsigned>(first), ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return;
  const int own = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd < first || fd == own) continue;
    const int flags = ::fcntl(static_cast<int>(fd), F_GETFD);
    if (flags >= 0) ::fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
  }
  ::closedir(dir);
}

constexpr const char* kLeftChildrenName = "KORVANI_LEFT_CHILDREN";
constexpr std::string_view kLeftChildren = "KORVANI_LEFT_CHILDREN=";

// Every child of this process, whichever thread started it.
std::vector<pid_t> own_children() {
  std::vector<pid_t> children;
  DIR* tasks = ::opendir("/proc/self/task");
  if (!tasks) return children;
  while (dirent* task = ::readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream in(std::string("/proc/self/task/") + task->d_name + "/children");
    long pid = 0;
    while (in >> pid) {
      if (std::find(children.begin(), children.end(), pid) == children.end()) children.push_back(pid);
    }
  }
  ::closedir(tasks);
  return children;
}

}  // namespace

std::string running_executable_path() {
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::vector<std::string> running_arguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  std::size_t from = 0;
  while (from < all.size()) {
    const auto end = all.find('\0', from);
    arguments.push_back(all.substr(from, end == std::string::npos ? std::string::npos : end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
  return arguments;
}

std::string directory_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string update_temp_path(const std::string& executable_path) {
  return directory_of(executable_path) + "/update.exe.tmp";
}

Text check_new_executable(const std::string& path) {
  const Text not_ours = message_of("下载的文件不是本系统可运行的程序，程序未更新。");
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return message_of("不能读取下载的文件（" + error_text(errno) + "），程序未更新。");
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};

  struct stat info{};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return not_ours;
  const auto size = static_cast<std::uint64_t>(info.st_size);

  Ehdr header{};
  if (size < sizeof header || !read_at(fd, &header, sizeof header, 0)) return not_ours;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != kOwnClass ||
      header.e_ident[EI_DATA] != kOwnData || header.e_ident[EI_VERSION] != EV_CURRENT) {
    return not_ours;
  }
  if (header.e_type != ET_EXEC && header.e_type != ET_DYN) return not_ours;
  if (own_machine() >= 0 && header.e_machine != own_machine()) return not_ours;
  if (header.e_entry == 0) return not_ours;

  if (header.e_phnum == 0 || header.e_phentsize != sizeof(Phdr) ||
      !inside(header.e_phoff, header.e_phnum, sizeof(Phdr), size)) {
    return not_ours;
  }
  bool loads = false;
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    Phdr segment{};
    if (!read_at(fd, &segment, sizeof segment, header.e_phoff + std::uint64_t{i} * sizeof(Phdr))) return not_ours;
    if (segment.p_type != PT_LOAD) continue;
    loads = true;
    if (!inside(segment.p_offset, 1, segment.p_filesz, size)) return not_ours;
  }
  if (!loads) return not_ours;
  // The linker puts the section table last, so a body cut anywhere before
  // its end loses it even when every segment still fits.
  if (header.e_shoff != 0) {
    const std::uint64_t count = header.e_shnum == 0 ? 1 : header.e_shnum;
    if (header.e_shentsize != sizeof(Shdr) || !inside(header.e_shoff, count, sizeof(Shdr), size)) return not_ours;
  }
  return {};
}

Text replace_executable(const std::string& executable_path, const std::string& new_file) {
  auto refuse = [&](const std::string& why) {
    ::unlink(new_file.c_str());
    return message_of("不能替换程序文件" + executable_path + "（" + why + "），程序未更新。");
  };
  if (directory_of(executable_path) != directory_of(new_file)) return refuse("新文件不在程序所在的目录");

  mode_t mode = 0755;
  struct stat old{};
  const bool old_known = ::stat(executable_path.c_str(), &old) == 0;
  if (old_known) {
    // Read rights carry execute rights with them; set-id bits never pass
    // on to a downloaded file.
    mode = old.st_mode & 0777;
    mode |= S_IRUSR | S_IXUSR | ((mode & 0444) >> 2);
  }

  int fd = ::open(new_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return refuse(error_text(errno));
  if (old_known) (void)::fchown(fd, old.st_uid, old.st_gid);  // only root may; nobody else needs to
  const bool ready = ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  const int ready_error = errno;
  ::close(fd);
  if (!ready) return refuse(error_text(ready_error));

  if (::rename(new_file.c_str(), executable_path.c_str()) != 0) return refuse(error_text(errno));

  // The rename itself must reach the disk, or a crash could bring the old
  // name back pointing at nothing.
  int dir = ::open(directory_of(executable_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return {};
}

Text restart_executable(const std::string& executable_path, const std::vector<std::string>& arguments) {
  std::vector<std::string> args = arguments;
  if (args.empty()) args.emplace_back();
  args[0] = executable_path;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The environment as it is, with the children the new program inherits.
  std::vector<std::string> environment;
  for (char** e = environ; e && *e; ++e) {
    if (std::string_view(*e).substr(0, kLeftChildren.size()) != kLeftChildren) environment.emplace_back(*e);
  }
  std::string left(kLeftChildren);
  for (pid_t child : own_children()) left += std::to_string(child) + ",";
  environment.push_back(left);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  // A worker thread may have signals blocked, and the mask outlives exec.
  sigset_t none;
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &none, nullptr);
  close_on_exec_from(3);
  // What the old program wrote but had not yet handed to the system would
  // otherwise vanish with it.
  std::fflush(nullptr);

  ::execve(executable_path.c_str(), argv.data(), envp.data());
  return message_of("新版本已经替换好，但不能启动（" + error_text(errno) + "）：" + executable_path);
}

void reap_children_left_by_restart() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* named = std::getenv(kLeftChildrenName);
    if (!named || !*named) return;
    std::vector<pid_t> children;
    for (const char* p = named; *p;) {
      char* end = nullptr;
      const long pid = std::strtol(p, &end, 10);
      if (end == p) break;
      if (pid > 0) children.push_back(static_cast<pid_t>(pid));
      p = *end == ',' ? end + 1 : end;
    }
    // Until it is waited for, such a child keeps its number, so no process
    // started since can be mistaken for it. The wait is over as soon as
    // they end, which they do on their own once their parent is gone.
    if (!children.empty()) {
      std::thread([children] {
        for (pid_t child : children) {
          while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
          }
        }
      }).detach();
    }
  });
}

}  // namespace korvani
