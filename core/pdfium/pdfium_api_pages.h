// PDFium functions of the pages area.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

extern "C" {

struct FS_SIZEF {
  float width;
  float height;
};

QV_PDFIUM_FN void FPDFPage_Delete(FPDF_DOCUMENT document, int page_index);
QV_PDFIUM_FN FPDF_PAGE FPDFPage_New(FPDF_DOCUMENT document, int page_index, double width, double height);
QV_PDFIUM_FN FPDF_BOOL FPDF_GetPageSizeByIndexF(FPDF_DOCUMENT document, int page_index, FS_SIZEF* size);

}  // extern "C"
