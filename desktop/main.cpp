#include <cstdio>

#include "core/engine.h"

int main(int, char**) {
  std::printf("%s\n", quorvel::engine_version_line().c_str());
  return 0;
}
