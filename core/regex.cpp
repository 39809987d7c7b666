#include "core/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>
#include <utility>
#include <vector>

namespace quorvel::regex {
namespace {

// Page text is untrusted: a pattern that backtracks without end must fail, not hang or exhaust
// memory. Ordinary searches stay far below both figures.
constexpr uint32_t kMatchLimit = 5'000'000;
constexpr uint32_t kDepthLimit = 200'000;

// What ECMAScript means where PCRE2's defaults differ.
constexpr uint32_t kCompileOptions = PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY;

// JIT code needs its own stack; one per thread, made on first use, so that a compiled pattern
// can still be matched from several threads. Its size bounds the depth as kDepthLimit does for
// the interpreter.
pcre2_jit_stack* thread_jit_stack(void*) {
  struct Holder {
    pcre2_jit_stack* stack = pcre2_jit_stack_create(32 * 1024, 16 * 1024 * 1024, nullptr);
    ~Holder() { pcre2_jit_stack_free(stack); }
  };
  thread_local Holder holder;
  return holder.stack;
}

}  // namespace

Pattern::Pattern(std::string_view source, bool caseless, Text text) {
  pcre2_compile_context* cctx = pcre2_compile_context_create(nullptr);
  if (cctx == nullptr) return;
  // '.' stops at both CR and LF, as in ECMAScript.
  pcre2_set_newline(cctx, PCRE2_NEWLINE_ANYCRLF);
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  uint32_t options = kCompileOptions | (caseless ? PCRE2_CASELESS : 0u);
  if (text == Text::Unicode) options |= PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(), options,
                                   &error, &error_offset, cctx);
  pcre2_compile_context_free(cctx);
  if (code == nullptr) return;
  pcre2_match_context* mctx = pcre2_match_context_create(nullptr);
  if (mctx == nullptr) {
    pcre2_code_free(code);
    return;
  }
  pcre2_set_match_limit(mctx, kMatchLimit);
  pcre2_set_depth_limit(mctx, kDepthLimit);
  // Without JIT support the interpreter runs; results are the same.
  if (pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0) pcre2_jit_stack_assign(mctx, thread_jit_stack, nullptr);
  code_ = code;
  context_ = mctx;
  unicode_ = text == Text::Unicode;
}

Pattern::Pattern(Pattern&& other) noexcept
    : code_(std::exchange(other.code_, nullptr)),
      context_(std::exchange(other.context_, nullptr)),
      unicode_(other.unicode_) {}

Pattern& Pattern::operator=(Pattern&& other) noexcept {
  if (this != &other) {
    pcre2_code_free(code_);
    pcre2_match_context_free(context_);
    code_ = std::exchange(other.code_, nullptr);
    context_ = std::exchange(other.context_, nullptr);
    unicode_ = other.unicode_;
  }
  return *this;
}

Pattern::~Pattern() {
  pcre2_code_free(code_);
  pcre2_match_context_free(context_);
}

bool Pattern::for_each_match(std::string_view text,
                             const std::function<bool(std::span<const Group>)>& visit) const {
  if (code_ == nullptr) return false;
  // Match data is per call so that one compiled pattern can serve several threads.
  struct DataDeleter {
    void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
  };
  const std::unique_ptr<pcre2_match_data, DataDeleter> owned(
      pcre2_match_data_create_from_pattern(code_, nullptr));
  pcre2_match_data* data = owned.get();
  if (data == nullptr) return false;
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(text.data());
  const size_t length = text.size();
  const uint32_t pairs = pcre2_get_ovector_count(data);
  std::vector<Group> groups(pairs);
  // After an empty match the search moves one character on: in Unicode text past the
  // continuation bytes too, since PCRE2 refuses a start inside a character.
  const auto step = [&](size_t at) {
    ++at;
    while (unicode_ && at < length && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    return at;
  };
  bool ok = true;
  size_t start = 0;
  bool after_empty = false;
  while (start <= length) {
    uint32_t options = after_empty ? (PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED) : 0u;
    int rc = pcre2_match(code_, subject, length, start, options, data, context_);
    if (rc == PCRE2_ERROR_NOMATCH) {
      if (!after_empty) break;
      after_empty = false;
      start = step(start);
      continue;
    }
    if (rc < 0) {
      ok = false;
      break;
    }
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
    for (uint32_t i = 0; i < pairs; ++i) {
      PCRE2_SIZE b = ov[2 * i];
      PCRE2_SIZE e = ov[2 * i + 1];
      if (b == PCRE2_UNSET || e < b) {
        groups[i] = Group{};
      } else {
        groups[i] = Group{b, e - b, true};
      }
    }
    if (!visit(std::span<const Group>(groups))) break;
    const size_t end = ov[1];
    if (end < start) break;  // cannot happen without \K tricks; never loop backwards
    if (end == ov[0] || end == start) {
      // An empty match (or one that did not move): try a non-empty one here, then move on.
      if (after_empty && end == start) {
        after_empty = false;
        start = step(start);
      } else {
        after_empty = true;
        start = end;
      }
    } else {
      after_empty = false;
      start = end;
    }
  }
  return ok;
}

std::string literal(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() * 2);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (alnum || c >= 0x80) {
      out.push_back(ch);
    } else if (c < 0x20 || c == 0x7F) {
      // Control bytes, NUL among them, by number: a backslash before them is no quote.
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      // A backslash before any other ASCII character that is not a letter or digit stands for
      // that character.
      out.push_back('\\');
      out.push_back(ch);
    }
  }
  return out;
}

}  // namespace quorvel::regex
