// qpdf plumbing shared by the sources that work through qpdf (qpdf_bridge.cpp, qpdf_rewrite.cpp)
// and by nothing else.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <qpdf/QPDF.hh>

#include <cstddef>
#include <string_view>

#include "core/pdfium/qpdf_bridge.h"

namespace quorvel::qpdf_bridge {

// Opens silently. The buffer must outlive `q`: qpdf reads stream data from it until the output
// is written.
void open(QPDF& q, const char* data, size_t size, std::string_view password);
void open(QPDF& q, const Bytes& in, std::string_view password);

// A new document written from the pages of `take_encryption_from` keeps that file's
// encryption, and its version so that the features its pages use stay allowed; without one the
// writer keeps q's own. `streams` says where the objects go (qpdf_o_preserve: where q read them);
// compressed streams are copied as stored.
bool write(QPDF& q, QPDF* take_encryption_from, Bytes& out, qpdf_object_stream_e streams = qpdf_o_preserve);
// The object streams of an output whose objects all go into streams when `object_streams` is set.
inline qpdf_object_stream_e streams_for(bool object_streams) {
  return object_streams ? qpdf_o_generate : qpdf_o_preserve;
}

// Output that keeps stream data as it is stored: the work stays proportional to the input and
// no filter runs on hostile data. The input's encryption is kept (qpdf_recover.cpp).
bool write_preserving(QPDF& q, Bytes& out);

// Every qpdf failure (damaged input, wrong password, allocation) ends here as false; `out` is
// touched only on success.
template <typename Work>
bool guarded(Bytes& out, Work&& work) {
  try {
    Bytes result;
    if (!work(result)) return false;
    out.swap(result);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace quorvel::qpdf_bridge
