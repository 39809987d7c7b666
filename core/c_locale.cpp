#include "core/c_locale.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace quorvel {

namespace {
locale_t c_locale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}
}  // namespace

double c_strtod(std::string_view text, size_t* consumed) {
  const std::string copy(text);  // strtod needs a terminator the view may lack
  char* end = nullptr;
  const double v = strtod_l(copy.c_str(), &end, c_locale());
  if (consumed) *consumed = static_cast<size_t>(end - copy.c_str());
  return v;
}

void append_fixed(std::string& out, double value, int decimals) {
  // The largest double has 309 integer digits; the buffer holds it with room to spare.
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (res.ec == std::errc()) out.append(buf, res.ptr);
}

void append_int(std::string& out, long long value) {
  char buf[24];  // 19 digits and a sign
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

std::string int_text(long long value) {
  std::string out;
  append_int(out, value);
  return out;
}

}  // namespace quorvel
