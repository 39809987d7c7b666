// The TeX-made manuals that set-up installs from Debian's documentation packages. Benchmarks
// that sweep real documents take them from here, so every one of them reads the same files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct TexManual {
  const char* name;
  const char* path;
};

// Smallest first; the last is the 2,415-page reference manual.
inline const std::vector<TexManual>& texManuals() {
  static const std::vector<TexManual> all{
      {"libtasn1.pdf", "/usr/share/doc/libtasn1-doc/libtasn1.pdf"},
      {"shared-mime-info-spec.pdf", "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf"},
      {"R-intro.pdf", "/usr/share/R/doc/manual/R-intro.pdf"},
      {"gnuplot.pdf", "/usr/share/doc/gnuplot/gnuplot.pdf"},
      {"octave.pdf", "/usr/share/doc/octave/octave.pdf"},
      {"fullrefman.pdf", "/usr/share/R/doc/manual/fullrefman.pdf"},
  };
  return all;
}

// The manuals that are present on this machine (set-up may not have run).
inline std::vector<TexManual> installedTexManuals() {
  std::vector<TexManual> out;
  for (const TexManual& m : texManuals())
    if (std::filesystem::exists(m.path)) out.push_back(m);
  return out;
}
