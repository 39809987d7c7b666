// PDFium functions the text layer needs: the pixel size of a page's scanned image.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include "core/pdfium/pdfium_api.h"

extern "C" {

struct FPDF_IMAGEOBJ_METADATA {
  unsigned int width;
  unsigned int height;
  float horizontal_dpi;
  float vertical_dpi;
  unsigned int bits_per_pixel;
  int colorspace;
  int marked_content_id;
};

QV_PDFIUM_FN FPDF_BOOL FPDFImageObj_GetImageMetadata(FPDF_PAGEOBJECT image_object, FPDF_PAGE page, FPDF_IMAGEOBJ_METADATA* metadata);

}  // extern "C"
