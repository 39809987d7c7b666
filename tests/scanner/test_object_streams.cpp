// Names packed in compressed object streams: which streams are read, where their findings
// stand in the report, the bounds on inflating, and damaged data.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "scanner/scan.h"
#include "scanner/security.h"

namespace {

using quorvel_scan::InflateLimits;
using quorvel_scan::ThreatKind;
using quorvel_scan::ThreatReport;
using quorvel_scan::Verdict;

ThreatReport scan_text(const std::string& s, const InflateLimits& limits = {}) {
  return quorvel_scan::scan({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}, limits);
}

// zlib data of `repeat` copies of s, made piece by piece so that a bomb needs no buffer of its
// size; with Z_FULL_FLUSH as the last flush, the data stops after a sound block, unfinished.
std::string zlib_of(const std::string& s, int level = Z_DEFAULT_COMPRESSION, std::size_t repeat = 1,
                    int last_flush = Z_FINISH) {
  z_stream zs{};
  EXPECT_EQ(deflateInit(&zs, level), Z_OK);
  std::string out;
  char buf[1 << 16];
  for (std::size_t i = 0; i < repeat; ++i) {
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(s.data()));
    zs.avail_in = static_cast<uInt>(s.size());
    const int flush = i + 1 == repeat ? last_flush : Z_NO_FLUSH;
    int rc = Z_OK;
    do {
      zs.next_out = reinterpret_cast<Bytef*>(buf);
      zs.avail_out = sizeof buf;
      rc = deflate(&zs, flush);
      out.append(buf, sizeof buf - zs.avail_out);
    } while (zs.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  }
  deflateEnd(&zs);
  return out;
}

const std::string kObjStm = "/Type /ObjStm /N 1 /First 4 /Filter /FlateDecode";

std::string object(int number, const std::string& dict, const std::string& data,
                   const std::string& eol = "\n") {
  return std::to_string(number) + " 0 obj\n<< " + dict + " >>\nstream" + eol + data + "\nendstream\nendobj\n";
}

// Letters that compress little.
std::string random_letters(std::size_t n) {
  std::string out;
  std::uint32_t x = 12345;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    out += static_cast<char>('a' + (x >> 16) % 26);
  }
  return out;
}

// Findings as (kind, offset) for comparing whole reports.
using Found = std::vector<std::pair<ThreatKind, std::uint64_t>>;
Found found(const ThreatReport& r) {
  Found out;
  for (const auto& f : r.findings) out.emplace_back(f.kind, f.offset);
  return out;
}

const std::string kPacked = "4 0 << /S /JavaScript /JS (app.alert\\(1\\)) >>";

TEST(ObjectStreams, WhichStreamsAreRead) {
  const std::string data = zlib_of(kPacked);
  const struct {
    const char* what;
    std::string before;  // objects ahead of the stream
    std::string dict;
    std::string eol;
    bool read;
  } cases[] = {
      {"entries as TeX writes them", "", "/Type /ObjStm /N 1 /First 4 /Length 60 /Filter /FlateDecode", "\n", true},
      {"entries as qpdf sorts them", "", "/Filter /FlateDecode /First 4 /Length 60 /N 1 /Type /ObjStm", "\r\n", true},
      {"a filter array", "", "/Type /ObjStm /Filter [/FlateDecode]", "\n", true},
      {"escaped names", "", "/Type /Obj#53tm /Filter /Flate#44ecode", "\n", true},
      {"an indirect length, nested parameters, a string and a comment that hold brackets", "",
       "/Length 9 0 R /DecodeParms << /Columns [4] >> /Note (a >> stream\n) % >> stream\n " + kObjStm, "\n",
       true},
      {"a lone CR after the keyword", "", kObjStm, "\r", true},
      {"not an object stream", "", "/Filter /FlateDecode", "\n", false},
      {"ObjStm as another entry's value", "", "/S /ObjStm /Filter /FlateDecode", "\n", false},
      {"ObjStm named in an earlier object", "3 0 obj\n<< /Note (/Type /ObjStm) >>\nendobj\n",
       "/Filter /FlateDecode", "\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = "%PDF-1.7\n" + c.before + object(5, c.dict, data, c.eol) + "trailer << /Root 1 0 R >>\n";
    const ThreatReport r = scan_text(file);
    EXPECT_TRUE(r.complete);
    if (!c.read) {
      EXPECT_TRUE(r.findings.empty());
      EXPECT_EQ(r.verdict, Verdict::Clean);
      continue;
    }
    const std::uint64_t at = file.find(data);
    EXPECT_EQ(found(r), (Found{{ThreatKind::JavaScript, at}, {ThreatKind::JavaScript, at}}));
    EXPECT_EQ(r.verdict, Verdict::Dangerous);
  }
}

TEST(ObjectStreams, PackedFindingsStandAtTheirStreamsDataInFileOrder) {
  const std::string first = zlib_of("7 0 << /S /URI /URI (javascript:go) >> << /JS (x) >>");
  const std::string second = zlib_of("9 0 << /S /Launch /F (calc) >>");
  const std::string file = "%PDF-1.7\n1 0 obj\n<< /AA 2 0 R >>\nendobj\n" + object(3, kObjStm, first) +
                           "4 0 obj\n<< /S /GoToR >>\nendobj\n" + object(5, kObjStm, second) + "%%EOF\n";
  const ThreatReport r = scan_text(file);
  const std::uint64_t a = file.find(first);
  const std::uint64_t b = file.find(second);
  EXPECT_EQ(found(r), (Found{{ThreatKind::AdditionalActions, file.find("/AA")},
                                          {ThreatKind::SuspiciousUri, a},
                                          {ThreatKind::JavaScript, a},
                                          {ThreatKind::GoToRemote, file.find("/GoToR")},
                                          {ThreatKind::Launch, b}}));
  EXPECT_EQ(r.findings[1].detail, "javascript:go");
  EXPECT_NE(r.to_text().find("[Medium] Suspicious URI scheme @ byte " + std::to_string(a) + " \xE2\x80\x94 javascript:go"),
            std::string::npos);
}

TEST(ObjectStreams, InflatingStopsAtTheBound) {
  const std::string content = "1 0 << /JS (a) >>" + std::string(100000, ' ');
  const std::string one = "%PDF-1.7\n" + object(3, kObjStm, zlib_of(content)) + "%%EOF\n";
  const std::string two = "%PDF-1.7\n" + object(3, kObjStm, zlib_of(content)) + object(4, kObjStm, zlib_of(content));
  const std::size_t s = content.size();
  const std::size_t lots = std::size_t{1} << 40;
  const struct {
    const char* what;
    const std::string& file;
    InflateLimits limits;
    bool complete;
  } cases[] = {
      {"exactly the total", one, {s, lots, 0}, true},
      {"one byte past the total", one, {s - 1, lots, 0}, false},
      {"within the ratio", one, {lots, (s + one.size() - 1) / one.size(), 0}, true},
      {"past the ratio", one, {lots, (s - 1) / one.size(), 0}, false},
      {"past the ratio, within the floor", one, {lots, (s - 1) / one.size(), s}, true},
      {"past the ratio and the floor", one, {lots, (s - 1) / one.size(), s - 1}, false},
      {"two streams share the total", two, {2 * s, lots, 0}, true},
      {"the second one passes it", two, {2 * s - 1, lots, 0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ThreatReport r = scan_text(c.file, c.limits);
    EXPECT_EQ(r.complete, c.complete);
    // What inflated before the bound was rated all the same.
    ASSERT_FALSE(r.findings.empty());
    EXPECT_EQ(r.findings[0].kind, ThreatKind::JavaScript);
  }
}

TEST(ObjectStreams, PastTheBoundNoReportSaysClean) {
  // Object streams within one another's stored data make the same bytes be read again.
  std::string nested = zlib_of("1 0 << /JS (a) >>", Z_NO_COMPRESSION);
  for (int depth = 0; depth < 3; ++depth) nested = zlib_of(object(3 + depth, kObjStm, nested), Z_NO_COMPRESSION);
  const struct {
    const char* what;
    std::string file;
  } cases[] = {
      {"zeros past a hundred times the file", "%PDF-1.7\n" + object(3, kObjStm, zlib_of(std::string(1 << 20, '\0'), Z_BEST_SPEED, 20))},
      {"zeros past 64 MB in a file large enough for them",
       "%PDF-1.7\n" + std::string(1 << 20, '%') + "\n" + object(3, kObjStm, zlib_of(std::string(1 << 20, ' '), Z_BEST_SPEED, 65))},
      {"object streams nested in stored data", "%PDF-1.7\n" + object(2, kObjStm, nested)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(scan_text(c.file).complete);
    // The wrapper reads the function interface, which gives no report for such a scan.
    const auto app =
        quorvel::security::scan({reinterpret_cast<const std::byte*>(c.file.data()), c.file.size()});
    EXPECT_TRUE(app.failed);
    EXPECT_NE(app.verdict, quorvel::security::Verdict::Clean);
  }
}

TEST(ObjectStreams, DamagedDataIsRatedAsFarAsItInflates) {
  // Text that does not compress much, so that the damage falls well after the first name.
  const std::string filler = random_letters(40000);
  const std::string data = zlib_of("1 0 << /JS (a) " + filler + " /Launch >>");
  // A sound first block, then one of the reserved block type, then the rest.
  std::string broken = zlib_of("1 0 << /JS (a) " + filler, Z_DEFAULT_COMPRESSION, 1, Z_FULL_FLUSH);
  broken += '\x07' + zlib_of(" /Launch >>").substr(2);
  const struct {
    const char* what;
    std::string file;
    bool launch;
  } cases[] = {
      {"cut short", "%PDF-1.7\n" + object(3, kObjStm, data.substr(0, data.size() / 2)), false},
      {"cut by the end of the file", "%PDF-1.7\n3 0 obj\n<< " + kObjStm + " >>\nstream\n" + data.substr(0, data.size() / 2),
       false},
      {"a bad block", "%PDF-1.7\n" + object(3, kObjStm, broken), false},
      {"without its checksum", "%PDF-1.7\n" + object(3, kObjStm, data.substr(0, data.size() - 4)), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ThreatReport r = scan_text(c.file);
    EXPECT_TRUE(r.complete);
    ASSERT_FALSE(r.findings.empty());
    EXPECT_EQ(r.findings[0].kind, ThreatKind::JavaScript);
    EXPECT_EQ(r.has(ThreatKind::Launch), c.launch);
  }
  // Data that does not decode at all may hold anything for a reader that takes it otherwise:
  // the scan is not complete.
  const ThreatReport garbage = scan_text("%PDF-1.7\n" + object(3, kObjStm, "1 0 << /S /Launch >>"));
  EXPECT_FALSE(garbage.complete);
  EXPECT_EQ(garbage.findings.size(), 1u);  // the stored bytes' own /Launch, at its '/'
}

}  // namespace

namespace {

// Encoders for the filters that readers apply, written the plain way.
std::string ascii_hex(const std::string& s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
    if (out.size() % 61 == 60) out += '\n';
  }
  return out + ">";
}

std::string ascii85(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); i += 4) {
    const std::size_t n = std::min<std::size_t>(4, s.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = v * 256 + (k < n ? static_cast<unsigned char>(s[i + k]) : 0);
    if (v == 0 && n == 4) {
      out += 'z';
      continue;
    }
    char group[5];
    for (int k = 4; k >= 0; --k) {
      group[k] = static_cast<char>('!' + v % 85);
      v /= 85;
    }
    out.append(group, n + 1);
  }
  return out + "~>";
}

std::string run_length(const std::string& s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t run = 1;
    while (i + run < s.size() && run < 128 && s[i + run] == s[i]) ++run;
    if (run >= 3) {
      out += static_cast<char>(257 - run);
      out += s[i];
    } else {
      run = std::min<std::size_t>(s.size() - i, 128);
      out += static_cast<char>(run - 1);
      out += s.substr(i, run);
    }
    i += run;
  }
  return out + '\x80';
}

// Codes widen one code early with early_change 1, as most writers do.
std::string lzw(const std::string& s, int early_change = 1) {
  std::map<std::string, int> table;
  for (int c = 0; c < 256; ++c) table[std::string(1, static_cast<char>(c))] = c;
  std::string out;
  std::uint32_t acc = 0;
  int acc_bits = 0;
  int bits = 9;
  int next = 258;
  bool first = true;
  const auto emit = [&](int code) {
    acc = (acc << bits) | static_cast<std::uint32_t>(code);
    acc_bits += bits;
    while (acc_bits >= 8) {
      out += static_cast<char>(acc >> (acc_bits - 8));
      acc_bits -= 8;
    }
    // The decoder adds an entry for every code but the first, then widens.
    if (!first && code != 256 && code != 257) {
      ++next;
      if (next + early_change >= (1 << bits) && bits < 12) ++bits;
    }
    first = code == 256;
  };
  emit(256);
  std::string w;
  int added = 258;
  for (char c : s) {
    if (table.count(w + c)) {
      w += c;
      continue;
    }
    emit(table[w]);
    table[w + c] = added++;
    w = std::string(1, c);
  }
  if (!w.empty()) emit(table[w]);
  emit(257);
  if (acc_bits > 0) out += static_cast<char>(acc << (8 - acc_bits));
  return out;
}

// PNG rows of `columns` bytes, each row's tag taken in turn from tags.
std::string png_rows(std::string s, std::size_t columns, const std::vector<int>& tags, std::size_t bpp = 1) {
  while (s.size() % columns) s += ' ';
  std::string out;
  for (std::size_t r = 0; r * columns < s.size(); ++r) {
    const int tag = tags[r % tags.size()];
    out += static_cast<char>(tag);
    for (std::size_t i = 0; i < columns; ++i) {
      const std::size_t at = r * columns + i;
      const int a = i >= bpp ? static_cast<unsigned char>(s[at - bpp]) : 0;
      const int b = r > 0 ? static_cast<unsigned char>(s[at - columns]) : 0;
      const int c = (r > 0 && i >= bpp) ? static_cast<unsigned char>(s[at - columns - bpp]) : 0;
      int pred = 0;
      if (tag == 1) pred = a;
      if (tag == 2) pred = b;
      if (tag == 3) pred = (a + b) / 2;
      if (tag == 4) {
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
      }
      out += static_cast<char>(static_cast<unsigned char>(s[at]) - pred);
    }
  }
  return out;
}

std::string tiff_rows(std::string s, std::size_t columns, std::size_t colors) {
  const std::size_t row = columns * colors;
  while (s.size() % row) s += ' ';
  std::string out = s;
  for (std::size_t at = 0; at < s.size(); ++at) {
    if (at % row >= colors) out[at] = static_cast<char>(s[at] - s[at - colors]);
  }
  return out;
}

struct Packed {
  const char* what;
  std::string dict;   // the object stream's entries besides /Type /ObjStm /N /First
  std::string data;
  std::string extra;  // further objects
};

std::string file_with(const Packed& c) {
  return "%PDF-1.7\n" + c.extra + object(5, "/Type /ObjStm /N 1 /First 4 " + c.dict, c.data) +
         "trailer << /Root 1 0 R >>\n%%EOF\n";
}

TEST(ObjectStreams, FiltersReadersApplyAreUndone) {
  const std::string& js = kPacked;
  const std::string z = zlib_of(js);
  const Packed cases[] = {
      {"a PNG predictor on every row", "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 5 >>",
       zlib_of(png_rows(js, 5, {2})), ""},
      {"PNG rows of every kind, three bytes a pixel",
       "/Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors 3 /Columns 4 >>",
       zlib_of(png_rows(js, 12, {0, 1, 2, 3, 4}, 3)), ""},
      {"a TIFF predictor", "/Filter /FlateDecode /DecodeParms << /Predictor 2 /Colors 2 /Columns 8 >>",
       zlib_of(tiff_rows(js, 8, 2)), ""},
      {"ASCIIHex, then Flate", "/Filter [/ASCIIHexDecode /FlateDecode]", ascii_hex(z), ""},
      {"ASCII85, then Flate", "/Filter [/ASCII85Decode /FlateDecode]", ascii85(z), ""},
      {"abbreviated names", "/Filter [/A85 /Fl]", ascii85(z), ""},
      {"Flate twice", "/Filter [/FlateDecode /FlateDecode]", zlib_of(z), ""},
      {"RunLength", "/Filter /RunLengthDecode", run_length("     " + js + std::string(300, ' ')), ""},
      {"LZW", "/Filter /LZWDecode", lzw(js + std::string(700, ' ') + "% " + js.substr(2, 9) + js.substr(2, 9)), ""},
      {"LZW without early change", "/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>",
       lzw(std::string(600, ' ') + js, 0), ""},
      {"LZW with a PNG predictor", "/Filter /LZWDecode /DecodeParms << /Predictor 10 /Columns 7 >>",
       lzw(png_rows(js, 7, {1})), ""},
      {"an Identity crypt filter", "/Filter [/Crypt /FlateDecode] /DecodeParms [<< /Name /Identity >> null]", z, ""},
      {"a crypt filter of no name", "/Filter [/Crypt /FlateDecode]", z, ""},
      {"an indirect filter", "/Filter 9 0 R", z, "9 0 obj\n/FlateDecode\nendobj\n"},
      {"an indirect filter array", "/Filter 9 0 R", ascii_hex(z), "9 0 obj [/AHx 10 0 R] endobj\n10 0 obj /Fl endobj\n"},
      {"indirect parameters", "/Filter /FlateDecode /DecodeParms 9 0 R", zlib_of(png_rows(js, 5, {2})),
       "9 0 obj\n<< /Predictor 12 /Columns 10 0 R >>\nendobj\n10 0 obj 5 endobj\n"},
  };
  for (const Packed& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = file_with(c);
    const ThreatReport r = scan_text(file);
    EXPECT_TRUE(r.complete);
    // RunLength keeps short texts as they stand, where the plain walk finds them too.
    const std::uint64_t at = file.find(c.data);
    Found inside;
    for (const auto& f : found(r)) {
      if (f.second == at) inside.push_back(f);
    }
    EXPECT_EQ(inside, (Found{{ThreatKind::JavaScript, at}, {ThreatKind::JavaScript, at}}));
    EXPECT_EQ(r.verdict, Verdict::Dangerous);
  }
}

TEST(ObjectStreams, AStreamThatCannotBeReadLeavesTheScanIncomplete) {
  const std::string z = zlib_of(kPacked);
  const Packed cases[] = {
      {"an unknown filter", "/Filter /FooDecode", z, ""},
      {"an image filter", "/Filter /JBIG2Decode", z, ""},
      {"a filter that is no name", "/Filter (FlateDecode)", z, ""},
      {"a reference that leads nowhere", "/Filter 9 0 R", z, ""},
      {"a crypt filter after another", "/Filter [/FlateDecode /Crypt]", z, ""},
      {"a named crypt filter in a file without encryption",
       "/Filter [/Crypt /FlateDecode] /DecodeParms [<< /Name /StdCF >> null]", z, ""},
      {"predictor parameters no reader takes", "/Filter /FlateDecode /DecodeParms << /Predictor 12 /BitsPerComponent 3 >>",
       z, ""},
      {"data that is no zlib stream", "/Filter /FlateDecode", ascii_hex(z), ""},
  };
  for (const Packed& c : cases) {
    SCOPED_TRACE(c.what);
    const ThreatReport r = scan_text(file_with(c));
    EXPECT_FALSE(r.complete);
    EXPECT_FALSE(r.needs_password);
  }
  // A dictionary with what an object stream needs is read as one, whatever its type says.
  const std::string untyped = "%PDF-1.7\n" + object(5, "/N 1 /First 4 /Filter /FlateDecode", z);
  EXPECT_TRUE(scan_text(untyped).has(ThreatKind::JavaScript));
}

TEST(ObjectStreams, ASmallFileMayInflateToAFewMegabytes) {
  // About 1.3 KB of file whose objects take several hundred times that once inflated.
  const std::string content = kPacked + std::string(800000, ' ');
  const std::string file = "%PDF-1.7\n" + object(5, kObjStm, zlib_of(content, Z_BEST_COMPRESSION));
  ASSERT_LT(file.size(), 1500u);
  const ThreatReport r = scan_text(file);
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.verdict, Verdict::Dangerous);
}

}  // namespace

namespace {

TEST(ObjectStreams, ManyStreamsOfALargeFileKeepTheirOrder) {
  // Large enough that several threads share the streams: each one's findings still stand at
  // its data, in file order, and a link detail budget holds across them as in one pass.
  const std::string filler = random_letters(40000);
  const std::string link = "/URI (javascript:" + std::string(3000, 'x') + ")";
  std::string file = "%PDF-1.7\n";
  Found want;
  for (int i = 0; i < 60; ++i) {
    std::string content = "1 0 << " + filler + " >> ";
    if (i % 7 == 3) content += "/JS (a) ";
    if (i % 11 == 5) content += "/Launch ";
    for (int k = 0; k < 40; ++k) content += link;
    const std::string data = zlib_of(content);
    file += object(10 + i, kObjStm, data);
    const std::uint64_t at = file.size() - data.size() - std::string("\nendstream\nendobj\n").size();
    // Within one stream, findings keep the order of their names.
    if (i % 7 == 3) want.emplace_back(ThreatKind::JavaScript, at);
    if (i % 11 == 5) want.emplace_back(ThreatKind::Launch, at);
    for (int k = 0; k < 40; ++k) want.emplace_back(ThreatKind::SuspiciousUri, at);
  }
  ASSERT_GT(file.size(), std::size_t{1} << 20);
  const ThreatReport r = scan_text(file);
  EXPECT_TRUE(r.complete);
  ASSERT_EQ(found(r), want);
  std::size_t total = 0;
  for (const auto& f : r.findings) {
    if (!f.detail) continue;
    EXPECT_EQ(f.detail->size(), total < quorvel_scan::kDetailBudget ? quorvel_scan::kDetailCap
                                                                    : quorvel_scan::kDetailCapOverBudget);
    total += f.detail->size();
  }
  EXPECT_EQ(found(scan_text(file)), want);
}

}  // namespace
