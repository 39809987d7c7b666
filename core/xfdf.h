// XFDF: the XML form in which annotations travel to and from other PDF software.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/annot.h"

namespace quorvel::annot {

// Where the crop box of a page (the annotation's zero-based page) starts in PDF user space.
// The model speaks page space, whose origin is that corner; XFDF, like the PDF file, speaks user
// space. An empty function puts every page's origin at (0, 0). It is asked once per page.
using PageOrigins = std::function<Point(int page)>;

// The whole XFDF document, one annotation element per line. A non-empty pdf_name becomes the
// href of the f element. Text that XML cannot carry (control bytes, invalid UTF-8) is written
// as U+FFFD, so every output is well-formed. Coordinates are written in user space.
std::string to_xfdf(const std::vector<Annotation>& annots, std::string_view pdf_name,
                    const PageOrigins& origins = {});

struct XfdfRead {
  std::vector<Annotation> annotations;  // in document order, in page space
  // Elements of the annotation list whose kind the model does not have (polygons, stamps,
  // carets, attachments, sounds, redactions and the like): left out, and counted.
  int unknown = 0;
};

// The annotations of an XFDF document, read as XML: nothing inside comments, processing
// instructions or CDATA sections counts, a document that declares entities is refused, and
// reading stops at the first error, keeping what came before it. Linear in the input.
// `step`, when given, hears how many bytes were read of how many, now and then; reading stops
// when it answers false.
using ReadStep = std::function<bool(size_t done, size_t total)>;
XfdfRead read_xfdf(std::string_view xml, const PageOrigins& origins = {}, const ReadStep& step = {});
// The annotations alone.
std::vector<Annotation> from_xfdf(std::string_view xml, const PageOrigins& origins = {});

}  // namespace quorvel::annot
