// XFDF: the XML form in which annotations travel to and from other PDF software.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/annot.h"

namespace quorvel::annot {

// The whole XFDF document, one annotation element per line. A non-empty pdf_name becomes the
// href of the f element. Text that XML cannot carry (control bytes, invalid UTF-8) is written
// as U+FFFD, so every output is well-formed.
std::string to_xfdf(const std::vector<Annotation>& annots, std::string_view pdf_name);

// The annotations of the recognised elements, in document order. A scanner over the bytes
// rather than an XML parser: it tolerates any input and runs in linear time.
std::vector<Annotation> from_xfdf(std::string_view xml);

}  // namespace quorvel::annot
