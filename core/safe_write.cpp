#include "core/safe_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

namespace quorvel {

namespace {

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file that a rename must replace: a symlinked target is written through to what it names.
std::string resolve_target(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;  // a dangling link is replaced like a missing file
  std::string out(real);
  std::free(real);
  return out;
}

bool write_all(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const size_t chunk = n > static_cast<size_t>(SSIZE_MAX) ? static_cast<size_t>(SSIZE_MAX) : n;
    const ssize_t w = ::write(fd, p, chunk);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

bool write_file_atomically(const std::string& path, std::span<const uint8_t> bytes) {
  if (path.empty() || path.back() == '/') return false;
  const std::string target = resolve_target(path);
  const std::string folder = folder_of(target);
  // A long file name must not push the temporary one past the 255 bytes a name may have.
  const std::string stem = folder + "/." + base_of(target).substr(0, 128) + ".tmp-";

  struct stat old {};
  const bool replacing = stat(target.c_str(), &old) == 0;
  if (replacing && !S_ISREG(old.st_mode)) return false;

  // O_EXCL with our own names instead of mkstemp, whose 0600 would hide the umask from a new
  // file. A replacement starts owner-only and gets the old file's bits once it is complete, so
  // the content is never more exposed than the file it replaces.
  const mode_t create_mode = replacing ? 0600 : 0666;
  std::random_device rd;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
    tmp = stem + std::to_string(rd()) + std::to_string(rd());
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, create_mode);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = write_all(fd, bytes.data(), bytes.size());
  if (ok && replacing) ok = fchmod(fd, old.st_mode & 07777) == 0;
  if (ok) ok = fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  // Make the rename itself durable; the new file is already complete either way.
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace quorvel
