// PDFium functions of the render area: the text page that text extraction reads.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

extern "C" {

QV_PDFIUM_FN FPDF_TEXTPAGE FPDFText_LoadPage(FPDF_PAGE page);
QV_PDFIUM_FN void FPDFText_ClosePage(FPDF_TEXTPAGE text_page);
QV_PDFIUM_FN int FPDFText_CountChars(FPDF_TEXTPAGE text_page);
QV_PDFIUM_FN unsigned int FPDFText_GetUnicode(FPDF_TEXTPAGE text_page, int index);
QV_PDFIUM_FN FPDF_BOOL FPDFText_GetCharBox(FPDF_TEXTPAGE text_page, int index, double* left, double* right, double* bottom, double* top);
QV_PDFIUM_FN int FPDFText_GetText(FPDF_TEXTPAGE text_page, int start_index, int count, unsigned short* result);
QV_PDFIUM_FN int FPDFText_CountRects(FPDF_TEXTPAGE text_page, int start_index, int count);
QV_PDFIUM_FN FPDF_BOOL FPDFText_GetRect(FPDF_TEXTPAGE text_page, int rect_index, double* left, double* top, double* right, double* bottom);

}  // extern "C"
