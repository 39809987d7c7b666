// Replacing files: the old target survives every failure, and no temporary file is left.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "common/fixtures.h"
#include "core/safe_write.h"

namespace fs = std::filesystem;
using quorvel::write_file_atomically;
using namespace quorvel::test;

namespace {

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

size_t entries(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

// Root writes into read-only folders anyway, so as root the write runs in a child that has
// given up its privileges.
bool write_unprivileged(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (geteuid() != 0) return write_file_atomically(path, bytes);
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(write_file_atomically(path, bytes) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(SafeWrite, CreatesAndReplacesKeepingPermissions) {
  TempDir dir;
  const std::string target = dir.file("out.pdf");
  const mode_t old_mask = umask(027);
  const bool wrote = write_file_atomically(target, bytes_of("first"));
  umask(old_mask);
  ASSERT_TRUE(wrote);
  EXPECT_EQ(read_file(target), "first");
  struct stat created {};
  ASSERT_EQ(stat(target.c_str(), &created), 0);
  EXPECT_EQ(created.st_mode & 07777, 0640u);  // 0666 less the umask
  ASSERT_EQ(chmod(target.c_str(), 0604), 0);
  ASSERT_TRUE(write_file_atomically(target, bytes_of("second, longer")));
  EXPECT_EQ(read_file(target), "second, longer");
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(SafeWrite, TakesTheLongestNamesAFolderHolds) {
  TempDir dir;
  const std::string target = dir.file(std::string(251, 'n') + ".pdf");
  ASSERT_TRUE(write_file_atomically(target, bytes_of("first")));
  ASSERT_TRUE(write_file_atomically(target, bytes_of("second")));
  EXPECT_EQ(read_file(target), "second");
  EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(SafeWrite, WritesThroughASymlink) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("real.pdf"), "old"));
  fs::create_symlink(dir.file("real.pdf"), dir.file("link.pdf"));
  ASSERT_TRUE(write_file_atomically(dir.file("link.pdf"), bytes_of("new")));
  EXPECT_TRUE(fs::is_symlink(dir.file("link.pdf")));
  EXPECT_EQ(read_file(dir.file("real.pdf")), "new");
}

TEST(SafeWrite, FailuresLeaveTheTargetAlone) {
  TempDir dir;
  EXPECT_FALSE(write_file_atomically(dir.file("missing/out.pdf"), bytes_of("x")));
  EXPECT_FALSE(fs::exists(dir.file("missing")));
  EXPECT_FALSE(write_file_atomically("", bytes_of("x")));

  // A folder in the target's place is not replaced.
  fs::create_directory(dir.file("folder.pdf"));
  EXPECT_FALSE(write_file_atomically(dir.file("folder.pdf"), bytes_of("x")));
  EXPECT_TRUE(fs::is_directory(dir.file("folder.pdf")));

  fs::create_directory(dir.file("ro"));
  const std::string target = dir.file("ro/out.pdf");
  ASSERT_TRUE(write_file(target, "precious"));
  ASSERT_EQ(chmod(dir.file("ro").c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  fs::create_directory(dir.file("rw"));
  ASSERT_EQ(chmod(dir.file("rw").c_str(), 0777), 0);
  ASSERT_TRUE(write_unprivileged(dir.file("rw/out.pdf"), bytes_of("x")));  // the child can write
  EXPECT_FALSE(write_unprivileged(target, bytes_of("replacement")));
  chmod(dir.file("ro").c_str(), 0755);
  EXPECT_EQ(read_file(target), "precious");
  EXPECT_EQ(entries(dir.file("ro")), 1u);
}
