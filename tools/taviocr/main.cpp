// The OCR companion stand-in: "taviocr PNG" prints the recognised text, "taviocr PNG --json"
// the words with their boxes. An unreadable image exits 2.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "ocr_engine.h"

int main(int argc, char** argv) {
  taviocr::run_single_threaded(argv);
  if (argc < 2 || argc > 3 || (argc == 3 && std::string(argv[2]) != "--json")) {
    std::cerr << "usage: taviocr IMAGE [--json]\n";
    return 1;
  }
  const bool json = argc == 3;
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "taviocr: cannot read " << argv[1] << "\n";
    return 2;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const taviocr::Result r = taviocr::recognize(bytes, json);
  if (!r.ok) {
    std::cerr << "taviocr: " << argv[1] << ": " << r.error << "\n";
    return 2;
  }
  if (json) {
    std::cout << taviocr::words_json(r) << "\n";
  } else {
    std::cout << r.text;
    if (!r.text.empty()) std::cout << "\n";
  }
  return std::cout.good() ? 0 : 1;
}
