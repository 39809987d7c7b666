// Runs a program as the benchmarks time it from outside.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

// Runs the program with its output thrown away; gives the exit status, the wall-clock seconds,
// in `cpu` the processor seconds it used (less sensitive to a busy machine) and, when asked, its
// peak resident memory in MB.
inline double timed_run(const std::vector<std::string>& argv, int& status, double& cpu, double* peak_mb = nullptr) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = -1;
  status = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) == 0) {
    int st = 0;
    rusage ru{};
    wait4(pid, &st, 0, &ru);
    status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    if (peak_mb) *peak_mb = static_cast<double>(ru.ru_maxrss) / 1024.0;
  }
  posix_spawn_file_actions_destroy(&fa);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
