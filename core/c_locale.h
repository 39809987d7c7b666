// Number conversions that ignore the process locale (the application runs under ru_RU,
// where printf and strtod would use a decimal comma).
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// strtod semantics in the "C" locale over a bounded copy of the text: leading white space is
// skipped, the longest numeric prefix is read, anything else reads as 0. Sets *consumed to the
// number of bytes used when given.
double c_strtod(std::string_view text, size_t* consumed = nullptr);

// printf("%.*f") in the "C" locale, never cut, for any double.
void append_fixed(std::string& out, double value, int decimals);

// The decimal digits of an integer, with a '-' when negative.
void append_int(std::string& out, long long value);
std::string int_text(long long value);

}  // namespace quorvel
