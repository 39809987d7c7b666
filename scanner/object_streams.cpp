#include "scanner/object_streams.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "scanner/syntax.h"

namespace quorvel_scan::detail {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr std::string_view kEndstream = "endstream";

std::size_t saturating_mul(std::size_t a, std::size_t b) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) return std::numeric_limits<std::size_t>::max();
  return a * b;
}

std::size_t inflate_allowance(const InflateLimits& limits, std::size_t input) {
  const std::size_t by_size = std::max(limits.floor, saturating_mul(limits.max_ratio, input));
  return std::min(limits.max_total, by_size);
}

std::optional<Filter> filter_named(std::string_view n) {
  if (n == "FlateDecode" || n == "Fl") return Filter::Flate;
  if (n == "LZWDecode" || n == "LZW") return Filter::Lzw;
  if (n == "ASCIIHexDecode" || n == "AHx") return Filter::AsciiHex;
  if (n == "ASCII85Decode" || n == "A85") return Filter::Ascii85;
  if (n == "RunLengthDecode" || n == "RL") return Filter::RunLength;
  return std::nullopt;
}

}  // namespace

struct ObjectStreams::Plan {
  std::size_t data = 0;
  std::size_t end = 0;  // where the data ends by its /Length or its "endstream"
  std::int64_t num = 0;
  std::int64_t gen = 0;
  std::vector<std::pair<Filter, Predictor>> filters;
  Cipher cipher = Cipher::None;
};

ObjectStreams::ObjectStreams(std::span<const std::uint8_t> input, const InflateLimits& limits,
                             std::string_view password)
    : input_(input),
      password_(password),
      budget_(inflate_allowance(limits, input.size())),
      // Object streams of a sound file lie apart, so neither their dictionaries nor their data
      // add up to more than the file: beyond that the same bytes are being read again.
      feed_(input.size()),
      search_left_(input.size()),
      parse_left_(input.size()),
      last_object_(kNone) {}

ObjectStreams::~ObjectStreams() = default;

void ObjectStreams::candidate(std::size_t name_start) {
  // Backwards from the name to the "obj" that opens its object, but never below where the
  // previous search began, which keeps all searches together linear; below that point the
  // answer is the previous one.
  const std::uint8_t* d = input_.data();
  std::size_t hi = name_start;
  while (hi > searched_from_) {
    const void* hit = memrchr(d + searched_from_, 'j', hi - searched_from_);
    if (!hit) break;
    const std::size_t j = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - d);
    if (j >= 2 && is_obj_keyword(input_, j - 2)) {
      last_object_ = j - 2;
      break;
    }
    hi = j;
  }
  searched_from_ = name_start;
  if (last_object_ != kNone && (objects_.empty() || objects_.back() != last_object_)) objects_.push_back(last_object_);
}

void ObjectStreams::build_index() {
  if (index_) return;
  index_.emplace();
  const std::uint8_t* d = input_.data();
  const std::size_t n = input_.size();
  // By the keyword's last letter: memchr is several times faster than a search for all three.
  std::size_t p = 2;
  while (p < n) {
    const void* hit = std::memchr(d + p, 'j', n - p);
    if (!hit) break;
    const std::size_t q = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - d) - 2;
    if (is_obj_keyword(input_, q)) {
      // The last definition stands, as after an incremental update.
      if (const auto nums = object_numbers(input_, q)) (*index_)[nums->first] = q;
    }
    p = q + 3;
  }
}

const Value* ObjectStreams::resolve(const Value* v, int depth) {
  while (v && v->is(Value::Type::Ref)) {
    if (++depth > 8) return nullptr;
    const std::int64_t num = v->integer;
    if (const auto it = resolved_.find(num); it != resolved_.end()) {
      v = it->second.get();
      continue;
    }
    build_index();
    const auto at = index_->find(num);
    if (at == index_->end()) return nullptr;  // nowhere, or packed in another object stream
    const std::size_t from = at->second + 3;
    const std::size_t limit = from + std::min(parse_left_, input_.size() - from);
    Parser ps(input_.first(limit), from);
    auto value = ps.object();
    parse_left_ -= ps.position() - from;
    if (!value) {
      if (ps.too_deep() || (ps.position() >= limit && limit < input_.size())) exhausted_ = true;
      return nullptr;
    }
    v = resolved_.emplace(num, std::make_unique<Value>(std::move(*value))).first->second.get();
  }
  return v;
}

void ObjectStreams::set_up_security() {
  const auto parse_at = [&](std::size_t from) -> std::optional<Value> {
    const std::size_t limit = from + std::min(parse_left_, input_.size() - from);
    Parser ps(input_.first(limit), from);
    auto value = ps.object();
    parse_left_ -= ps.position() - from;
    return value;
  };
  // The newest trailer stands last.
  std::optional<Value> direct;
  const Value* dict = nullptr;
  for (auto it = encrypt_names_.rbegin(); it != encrypt_names_.rend() && !dict; ++it) {
    direct = parse_at(*it);
    if (!direct) continue;
    const Value* v = resolve(&*direct);
    // An encryption dictionary names its handler and its version; a name "Encrypt" that
    // leads to anything else is text that happens to hold it.
    if (v && v->is(Value::Type::Dict) && v->get("Filter") && v->get("Filter")->is(Value::Type::Name) &&
        (v->get("V") || v->get("R")))
      dict = v;
  }
  if (!dict) return;
  std::string id0;
  for (auto it = id_names_.rbegin(); it != id_names_.rend(); ++it) {
    const auto id = parse_at(*it);
    if (id && id->is(Value::Type::Array) && !id->items.empty() && id->items[0].is(Value::Type::String)) {
      id0 = id->items[0].text;
      break;
    }
  }
  security_ = std::make_unique<Security>(*dict, id0, password_);
}

std::size_t ObjectStreams::data_end(std::size_t data, const Value& dict) {
  const std::size_t n = input_.size();
  const Value* length = dict.get("Length");
  if (length && length->is(Value::Type::Integer) && length->integer >= 0 &&
      static_cast<std::uint64_t>(length->integer) <= n - data) {
    std::size_t q = data + static_cast<std::size_t>(length->integer);
    const std::size_t end = q;
    while (q < n && is_pdf_white(input_[q])) ++q;
    if (n - q >= kEndstream.size() && std::memcmp(input_.data() + q, kEndstream.data(), kEndstream.size()) == 0)
      return end;
  }
  // A /Length that is indirect or wrong: the data runs to the keyword, less its end of line.
  const std::size_t span = std::min(n - data, search_left_);
  const void* hit = memmem(input_.data() + data, span, kEndstream.data(), kEndstream.size());
  if (!hit) {
    search_left_ -= span;
    if (span < n - data) exhausted_ = true;
    return data + span;
  }
  std::size_t e = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - input_.data());
  search_left_ -= e - data;
  if (e > data && input_[e - 1] == '\n') --e;
  if (e > data && input_[e - 1] == '\r') --e;
  return e;
}

std::optional<ObjectStreams::Plan> ObjectStreams::plan(std::size_t obj) {
  const std::size_t from = obj + 3;
  const std::size_t limit = from + std::min(parse_left_, input_.size() - from);
  Parser ps(input_.first(limit), from);
  const auto dict = ps.object();
  const bool stream = dict && dict->is(Value::Type::Dict) && ps.keyword("stream");
  parse_left_ -= ps.position() - from;
  if (!stream) {
    if (ps.too_deep()) unreadable_ = true;  // deeper than any reader goes: it proves nothing
    if (!dict && ps.position() >= limit && limit < input_.size()) exhausted_ = true;
    return std::nullopt;
  }
  // What readers take for an object stream: its type says so, or it has what one needs.
  const Value* type = dict->get("Type");
  if (!(type && type->is_name("ObjStm")) && !(dict->get("First") && dict->get("N"))) return std::nullopt;

  Plan p;
  // The data follows the end of line after the keyword (CR LF, LF, or a lone CR).
  std::size_t q = ps.position();
  while (q < input_.size() && input_[q] == ' ') ++q;
  if (q < input_.size() && input_[q] == '\r') ++q;
  if (q < input_.size() && input_[q] == '\n') ++q;
  p.data = q;
  const auto nums = object_numbers(input_, obj);
  if (nums) {
    p.num = nums->first;
    p.gen = nums->second;
  }

  const auto fail = [&]() -> std::optional<Plan> {
    unreadable_ = true;
    return std::nullopt;
  };
  // /Filter and /DecodeParms: one value or an array of them, any of them by reference.
  const auto each = [&](std::string_view key, std::vector<const Value*>& out) {
    const Value* v = resolve(dict->get(key));
    if (dict->get(key) && !v) return false;
    if (v && v->is(Value::Type::Array)) {
      for (const Value& item : v->items) out.push_back(resolve(&item));
    } else if (v && !v->is(Value::Type::Null)) {
      out.push_back(v);
    }
    return true;
  };
  std::vector<const Value*> names;
  std::vector<const Value*> parms;
  if (!each("Filter", names) || !each("DecodeParms", parms)) return fail();

  std::optional<std::string> crypt_filter;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const Value* name = names[i];
    if (!name || !name->is(Value::Type::Name)) return fail();
    const Value* d = i < parms.size() ? parms[i] : nullptr;
    if (d && !d->is(Value::Type::Dict)) d = nullptr;
    const auto number = [&](std::string_view key, std::int64_t fallback, std::int64_t lo, std::int64_t hi) {
      const Value* v = d ? resolve(d->get(key)) : nullptr;
      if (!v || !v->is(Value::Type::Integer)) return fallback;
      return std::clamp(v->integer, lo, hi);
    };
    if (name->text == "Crypt") {
      if (i != 0) return fail();  // a crypt filter comes first or not at all
      const Value* n = d ? resolve(d->get("Name")) : nullptr;
      crypt_filter = n && n->is(Value::Type::Name) ? n->text : "Identity";
      continue;
    }
    const auto f = filter_named(name->text);
    if (!f) return fail();
    Predictor pr;
    pr.predictor = static_cast<int>(number("Predictor", 1, -1, 1000));
    pr.colors = static_cast<int>(number("Colors", 1, -1, 1000));
    pr.bits = static_cast<int>(number("BitsPerComponent", 8, -1, 1000));
    pr.columns = number("Columns", 1, -1, std::int64_t{1} << 40);
    pr.early_change = static_cast<int>(number("EarlyChange", 1, 0, 1));
    if (*f != Filter::Flate && *f != Filter::Lzw) pr.predictor = 1;
    p.filters.emplace_back(*f, pr);
  }

  if (security_) {
    const auto cipher = crypt_filter ? security_->named(*crypt_filter) : security_->stream_cipher();
    if (!cipher) return fail();
    if (*cipher != Cipher::None && security_->state() != Security::State::Open) {
      if (security_->state() == Security::State::NeedsPassword) needs_password_ = true;
      return fail();
    }
    p.cipher = *cipher;
  } else if (crypt_filter && *crypt_filter != "Identity") {
    return fail();
  }
  const bool flate_first = !p.filters.empty() && p.filters[0].first == Filter::Flate;
  // Zlib data ends itself: it is read to its own end, whatever /Length claims.
  p.end = (p.cipher == Cipher::None && flate_first) ? input_.size() : data_end(p.data, *dict);
  return p;
}

// What one thread decodes with.
struct ObjectStreams::Worker {
  explicit Worker(Budget& budget) : sinks{Sink(budget), Sink(budget)} {}
  Sink sinks[2];  // the stages of a chain take turns
  Inflater inflater;
  std::vector<std::uint8_t> plain;  // decrypted data
  bool unreadable = false;
};

void ObjectStreams::decode(const Plan& p, Worker& w, const Rate& rate, std::vector<Finding>& out) {
  if (p.data >= input_.size()) return;
  std::span<const std::uint8_t> cur = input_.subspan(p.data, p.end - p.data);
  if (p.cipher != Cipher::None) {
    if (feed_.take_up_to(cur.size()) < cur.size()) {
      feed_.exhaust();
      return;
    }
    w.plain.clear();
    if (!security_->decrypt(p.cipher, p.num, p.gen, cur, w.plain)) {
      w.unreadable = true;
      return;
    }
    cur = w.plain;
  } else if (p.filters.empty()) {
    return;  // stored as it stands: the walk over the plain bytes rated it already
  }
  bool from_input = p.cipher == Cipher::None;
  for (std::size_t i = 0; i < p.filters.size(); ++i) {
    Sink& sink = w.sinks[i % 2];
    sink.reset();
    std::size_t consumed = 0;
    const Outcome outcome =
        quorvel_scan::detail::decode(p.filters[i].first, p.filters[i].second, cur, sink, w.inflater, consumed);
    if (from_input && feed_.take_up_to(consumed) < consumed) {
      feed_.exhaust();  // the same stored bytes read over and over
      return;
    }
    from_input = false;
    if (sink.over()) {
      // What decoded before the bound is rated all the same; the report says it is incomplete.
      if (i + 1 == p.filters.size()) rate(p.data, sink.bytes(), out);
      return;
    }
    if (outcome == Outcome::Failed || !unpredict(p.filters[i].second, sink)) {
      w.unreadable = true;
      return;
    }
    cur = sink.bytes();
  }
  rate(p.data, cur, out);
}

std::vector<Finding> ObjectStreams::read_all(const Rate& rate) {
  std::vector<Finding> found;
  if (objects_.empty()) return found;
  if (!encrypt_names_.empty()) set_up_security();
  std::vector<Plan> plans;
  for (const std::size_t obj : objects_) {
    if (exhausted()) return found;
    if (auto p = plan(obj)) plans.push_back(std::move(*p));
  }
  // Large files have hundreds of object streams; inflating them takes most of a scan, and they
  // inflate independently. A few threads share them; small files need none.
  constexpr std::size_t kMaxThreads = 4;
  std::size_t threads = 1;
  if (plans.size() >= 16 && input_.size() >= (std::size_t{1} << 20))
    threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxThreads);
  std::vector<std::unique_ptr<Worker>> workers;
  for (std::size_t k = 0; k < threads; ++k) workers.push_back(std::make_unique<Worker>(budget_));
  std::vector<std::vector<Finding>> results(plans.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex error_lock;
  const auto run = [&](Worker& w) {
    try {
      for (std::size_t i; !failed.load(std::memory_order_relaxed) && (i = next.fetch_add(1)) < plans.size();) {
        if (exhausted()) break;
        decode(plans[i], w, rate, results[i]);
      }
    } catch (...) {
      const std::lock_guard<std::mutex> hold(error_lock);
      if (!error) error = std::current_exception();
      failed = true;
    }
  };
  std::vector<std::thread> pool;
  try {
    for (std::size_t k = 1; k < threads; ++k) pool.emplace_back(run, std::ref(*workers[k]));
  } catch (const std::system_error&) {
    // Fewer threads, or none: the calling thread does what is left.
  }
  run(*workers[0]);
  for (std::thread& t : pool) t.join();
  if (error) std::rethrow_exception(error);
  for (const auto& w : workers) unreadable_ = unreadable_ || w->unreadable;
  std::size_t total = 0;
  for (const auto& r : results) total += r.size();
  found.reserve(total);
  for (auto& r : results) found.insert(found.end(), std::make_move_iterator(r.begin()), std::make_move_iterator(r.end()));
  return found;
}

}  // namespace quorvel_scan::detail
