// Optimising through the backend stand-in against qpdf's own rewrite with object streams, on
// a TeX manual and on a generated 2,500-page manual: ours (the request over loopback), qpdf
// (the command, file to file), the ratio of the medians of alternating runs, and both sizes.
// Usage: bench_backend_optimize [durovaderiz] [runs]
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "backend_bench.h"
#include "common/fixtures.h"
#include "common/manual_like.h"

int main(int argc, char** argv) {
  using namespace quorvel;
  const std::string program = bench::stand_in_program(argc, argv);
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  test::TempDir dir;
  struct Doc {
    std::string name, path;
  };
  std::vector<Doc> docs{{"libtasn1.pdf", "/usr/share/doc/libtasn1-doc/libtasn1.pdf"},
                        {"manual-like, 2500 pages", dir.file("manual.pdf")}};
  if (!test::write_file(docs[1].path, test::manual_like_pdf({}))) {
    std::fprintf(stderr, "cannot write the generated manual\n");
    return 1;
  }
  bench::Backend backend;
  if (!backend.start(program)) {
    std::fprintf(stderr, "the stand-in %s did not start\n", program.c_str());
    return 1;
  }
  std::printf("%-26s %10s %10s %7s %12s %12s %12s\n", "document", "ours s", "qpdf s", "ratio", "input B",
              "ours B", "qpdf B");
  for (const Doc& d : docs) {
    const std::string pdf = test::read_file(d.path);
    const std::string peer_out = dir.file("qpdf-out.pdf");
    std::vector<double> ours, peer;
    size_t ours_size = 0;
    for (int i = 0; i < runs; ++i) {
      auto t = bench::Clock::now();
      const test::HttpReply r = backend.request("POST", "/pdf/optimize", pdf, "application/pdf");
      // The window writes the answer to a file, as qpdf does.
      test::write_file(dir.file("ours-out.pdf"), r.body);
      ours.push_back(bench::seconds_since(t));
      if (r.status != 200) {
        std::fprintf(stderr, "%s: the stand-in answered %d\n", d.name.c_str(), r.status);
        return 1;
      }
      ours_size = r.body.size();
      t = bench::Clock::now();
      const test::RunResult q =
          test::run({"qpdf", "--object-streams=generate", "--compress-streams=y", d.path, peer_out}, {}, 600000);
      peer.push_back(bench::seconds_since(t));
      if (q.status != 0 && q.status != 3) {
        std::fprintf(stderr, "%s: qpdf failed\n", d.name.c_str());
        return 1;
      }
    }
    const double o = bench::median(ours), p = bench::median(peer);
    std::printf("%-26s %10.3f %10.3f %7.2f %12zu %12zu %12zu\n", d.name.c_str(), o, p, p > 0 ? o / p : 0,
                pdf.size(), ours_size, test::read_file(peer_out).size());
  }
  return 0;
}
