// Rebuilding damaged PDFs that PDFium refuses (a cut-off download, a lost header or trailer,
// a mislabelled object stream) with qpdf's own recovery, in memory and silently.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorvel::qpdf_bridge {

enum class Recovery { repaired, needs_password, failed };

// On `repaired`, `out` holds a rewritten copy with at least one page (encrypted as the input
// was, with the same password); otherwise `out` is untouched. Work and memory grow with the
// input's size; no exception leaves.
Recovery recover(std::span<const uint8_t> in, std::string_view password, std::vector<uint8_t>& out);

// The object that holds `/Type /Catalog`, for a trailer that names it; the last one in the file
// comes first, as a later revision replaces an earlier one. At most `limit` objects.
struct ObjectRef {
  long long number = 0;
  long long generation = 0;
  bool operator==(const ObjectRef&) const = default;
};
std::vector<ObjectRef> find_catalogs(std::string_view bytes, size_t limit);

}  // namespace quorvel::qpdf_bridge
