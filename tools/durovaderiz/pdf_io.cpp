#include "pdf_io.h"

#include <sys/random.h>

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "memory.h"
#include "routes.h"

namespace durovaderiz {

namespace {

// The work that with_pdf runs on this thread, for the writer's output and the input's reads.
thread_local Work* t_work = nullptr;

// Checking the clock on every read would cost more than many reads; every so many is enough.
constexpr unsigned kCheckEvery = 256;

// The request body as qpdf reads it, refusing to go on once the request's time is up.
class WorkInput : public BufferInputSource {
 public:
  WorkInput(const std::string& body, Work& work)
      : BufferInputSource("request body",
                          new Buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(body.data())), body.size()),
                          true),
        work_(work) {}
  size_t read(char* buffer, size_t length) override {
    tick();
    return BufferInputSource::read(buffer, length);
  }
  qpdf_offset_t findAndSkipNextEOL() override {
    tick();
    return BufferInputSource::findAndSkipNextEOL();
  }

 private:
  void tick() {
    if (++calls_ % kCheckEvery == 0) work_.check();
  }
  Work& work_;
  unsigned calls_ = 0;
};

// Counts what decoding gives, and lets it go no further than the request may.
class DecodedCount : public Pipeline {
 public:
  explicit DecodedCount(Work& work) : Pipeline("decoded bytes", nullptr), work_(work) {}
  void write(unsigned char const*, size_t len) override { work_.decoded(len); }
  void finish() override {}

 private:
  Work& work_;
};

// The writer's output, appended to one string, so that nothing is copied afterwards.
class Output : public Pipeline {
 public:
  Output(std::string& out, Work* work) : Pipeline("written PDF", nullptr), out_(out), work_(work) {}
  void write(unsigned char const* data, size_t len) override {
    if (work_ && ++calls_ % kCheckEvery == 0) work_->check();
    out_.append(reinterpret_cast<const char*>(data), len);
  }
  void finish() override {}

 private:
  std::string& out_;
  Work* work_;
  unsigned calls_ = 0;
};

bool is_general_filter(const std::string& name) {
  static const char* const kGeneral[] = {"/FlateDecode", "/Fl",        "/LZWDecode",      "/LZW",
                                         "/ASCII85Decode", "/A85",     "/ASCIIHexDecode", "/AHx",
                                         "/RunLengthDecode", "/RL"};
  return std::any_of(std::begin(kGeneral), std::end(kGeneral), [&](const char* f) { return name == f; });
}

bool decoded_by(Decodes decodes, QPDFObjectHandle dict) {
  if (decodes == Decodes::Text) return !dict.getKey("/Subtype").isNameAndEquals("/Image");
  QPDFObjectHandle filter = dict.getKey("/Filter");
  if (filter.isName()) return is_general_filter(filter.getName()) && filter.getName() != "/FlateDecode" &&
                              filter.getName() != "/Fl";
  if (!filter.isArray() || filter.getArrayNItems() == 0) return false;
  for (int i = 0; i < filter.getArrayNItems(); ++i) {
    QPDFObjectHandle f = filter.getArrayItem(i);
    if (!f.isName() || !is_general_filter(f.getName())) return false;
  }
  return true;
}

// Decodes, before the route does, every stream the route will decode, counting the bytes: a
// small stream that decodes to gigabytes is refused before anything holds them.
void check_decoding(QPDF& pdf, Decodes decodes, Work& work) {
  const qpdf_stream_decode_level_e level = decodes == Decodes::Text ? qpdf_dl_specialized : qpdf_dl_generalized;
  // Streams are never kept in object streams, so the table's plain entries hold them all.
  for (const auto& [og, entry] : pdf.getXRefTable()) {
    if (entry.getType() != 1) continue;
    QPDFObjectHandle oh = pdf.getObjectByObjGen(og);
    if (!oh.isStream() || !decoded_by(decodes, oh.getDict())) continue;
    DecodedCount count(work);
    oh.pipeStreamData(&count, 0, level, true, false);
  }
}

}  // namespace

WorkRefused memory_refused(memory::Guard::Trip trip, const Work& work, const char* what) {
  if (trip == memory::Guard::Trip::Budget) return {503, "the backend is busy: its memory for requests is taken"};
  return {413, std::string(what) + " needs more than " + size_text(work.limits().memory) + " of memory"};
}

Response with_pdf(const Request& req, const std::function<Response(QPDF&)>& work, Decodes decodes) {
  if (!looks_like_pdf(req.body)) return text_reply(415, "the body is not a PDF");
  Work fallback;
  Work& limits = req.work ? *req.work : fallback;
  Work* const outer = std::exchange(t_work, &limits);
  Response resp;
  memory::Guard::Trip trip = memory::Guard::Trip::None;
  {
    memory::Guard guard(limits.limits().memory);
    try {
      auto pdf = std::make_shared<QPDF>();
      pdf->setSuppressWarnings(true);
      pdf->processInputSource(std::make_shared<WorkInput>(req.body, limits));
      check_decoding(*pdf, decodes, limits);
      resp = work(*pdf);
      limits.keep(std::move(pdf));
    } catch (const WorkRefused& r) {
      resp = json_error(r.status, r.what);
    } catch (const std::bad_alloc&) {
      resp = json_error(500, "out of memory");
    } catch (...) {
      // qpdf's messages name offsets and objects of the caller's file; the caller learns only
      // that it could not be read.
      resp = text_reply(422, "the PDF could not be read");
    }
    trip = guard.tripped();
  }
  t_work = outer;
  // qpdf may have caught a refused allocation and carried on: what it gave is not trusted.
  if (trip != memory::Guard::Trip::None) {
    const WorkRefused r = memory_refused(trip, limits, "the document");
    return json_error(r.status, r.what);
  }
  return resp;
}

std::optional<JSON> json_member(const JSON& object, const std::string& key) {
  std::optional<JSON> found;
  object.forEachDictItem([&](const std::string& k, JSON v) {
    if (k == key) found = v;
  });
  return found;
}

std::optional<double> json_number(const JSON& value) {
  std::string text;
  if (!value.getNumber(text)) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double d = std::strtod(text.c_str(), &end);
  if (errno == ERANGE || end == text.c_str() || *end || !std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<JSON> json_body(const Request& req) {
  std::optional<JSON> out;
  Work fallback;
  const Work& limits = req.work ? *req.work : fallback;
  memory::Guard guard(limits.limits().memory);
  try {
    JSON j = JSON::parse(req.body);
    if (j.isDictionary()) out = j;
  } catch (const std::exception&) {
  }
  if (guard.tripped() != memory::Guard::Trip::None) throw memory_refused(guard.tripped(), limits, "the JSON body");
  return out;
}

Response with_json_pdf(const Request& req, const std::function<Response(QPDF&, const JSON&)>& work) {
  const std::optional<JSON> body = json_body(req);
  if (!body) return text_reply(400, "the body is not a JSON object");
  std::string b64;
  if (!json_member(*body, "pdf_b64").value_or(JSON::makeNull()).getString(b64)) return text_reply(400, "pdf_b64 is missing");
  Request inner;
  inner.work = req.work;
  if (!base64_decode(b64, inner.body)) return text_reply(400, "pdf_b64 is not base64");
  return with_pdf(inner, [&](QPDF& pdf) { return work(pdf, *body); });
}

std::string written(QPDFWriter& writer) {
  std::string out;
  Output sink(out, t_work);
  writer.setOutputPipeline(&sink);
  writer.write();
  return out;
}

Response pdf_reply(std::string body, Fields headers) {
  Response resp;
  resp.content_type = "application/pdf";
  resp.body = std::move(body);
  resp.headers = std::move(headers);
  return resp;
}

bool base64_decode(std::string_view in, std::string& out) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (in.empty() || in.size() % 4 != 0) return false;
  out.clear();
  out.reserve(in.size() / 4 * 3);
  for (size_t i = 0; i < in.size(); i += 4) {
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = in[i + k];
      if (c == '=' && i + 4 == in.size() && k >= 2) {
        v[k] = 0;
        ++pad;
      } else if (pad > 0 || (v[k] = value(c)) < 0) {
        return false;
      }
    }
    const unsigned n = (unsigned(v[0]) << 18) | (unsigned(v[1]) << 12) | (unsigned(v[2]) << 6) | unsigned(v[3]);
    out.push_back(static_cast<char>(n >> 16));
    if (pad < 2) out.push_back(static_cast<char>((n >> 8) & 0xFF));
    if (pad < 1) out.push_back(static_cast<char>(n & 0xFF));
  }
  return true;
}

bool random_bytes(unsigned char* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = getrandom(out + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

}  // namespace durovaderiz
