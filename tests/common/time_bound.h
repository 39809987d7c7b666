// The one source of the time bounds that tests are about: a limit that is the point of a test
// (a grace period, "answers within"), stretched for sanitizer builds, which run several times
// slower. Tests wait for signals, sockets or exits; they never sleep to let things happen.
#pragma once

namespace quorvel::test {

inline int time_bound_ms(int ms) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return ms * 5;
#else
  return ms;
#endif
}

}  // namespace quorvel::test
