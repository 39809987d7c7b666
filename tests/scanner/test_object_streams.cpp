// Names packed in compressed object streams: which streams are read, where their findings
// stand in the report, the bounds on inflating, and damaged data.
#include <gtest/gtest.h>
#include <zlib.h>

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
      {"exactly the total", one, {s, lots}, true},
      {"one byte past the total", one, {s - 1, lots}, false},
      {"within the ratio", one, {lots, (s + one.size() - 1) / one.size()}, true},
      {"past the ratio", one, {lots, (s - 1) / one.size()}, false},
      {"two streams share the total", two, {2 * s, lots}, true},
      {"the second one passes it", two, {2 * s - 1, lots}, false},
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
  std::string filler;
  std::uint32_t x = 12345;
  while (filler.size() < 40000) {
    x = x * 1103515245u + 12345u;
    filler += static_cast<char>('a' + (x >> 16) % 26);
  }
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
  // Data that is no zlib stream at all gives nothing, and is no reason to distrust the scan.
  const ThreatReport garbage = scan_text("%PDF-1.7\n" + object(3, kObjStm, "1 0 << /S /Launch >>"));
  EXPECT_TRUE(garbage.complete);
  EXPECT_EQ(garbage.findings.size(), 1u);  // the stored bytes' own /Launch, at its '/'
}

}  // namespace
