// PDFium functions of the pages area.
#pragma once

extern "C" {

struct FS_SIZEF {
  float width;
  float height;
};

QV_PDFIUM_FN void FPDFPage_Delete(FPDF_DOCUMENT document, int page_index);
QV_PDFIUM_FN FPDF_PAGE FPDFPage_New(FPDF_DOCUMENT document, int page_index, double width, double height);
QV_PDFIUM_FN FPDF_BOOL FPDF_GetPageSizeByIndexF(FPDF_DOCUMENT document, int page_index, FS_SIZEF* size);

}  // extern "C"
