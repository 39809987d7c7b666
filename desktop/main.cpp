#include <QCoreApplication>
#include <cstdio>

#include "core/engine.h"
#include "desktop/batch.h"

int main(int argc, char** argv) {
  if (const auto batch = quorvel::desktop::batch_args(argc, argv)) {
    // Only encryption talks to the backend process and the network, which need an application
    // object; the other operations run without any Qt application.
    if (batch->op == "encrypt") {
      QCoreApplication app(argc, argv);
      return quorvel::desktop::run_batch(batch->dir, batch->op, batch->out, batch->pw);
    }
    return quorvel::desktop::run_batch(batch->dir, batch->op, batch->out, batch->pw);
  }

  // Window mode.
  std::printf("%s\n", quorvel::engine_version_line().c_str());
  return 0;
}
