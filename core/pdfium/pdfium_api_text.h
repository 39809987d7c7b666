// PDFium functions of the text area: text objects, fonts and reading text under a box.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

extern "C" {

typedef unsigned short FPDF_WCHAR;

// Font types of FPDFText_LoadFont.
enum : int { QV_FPDF_FONT_TYPE1 = 1, QV_FPDF_FONT_TRUETYPE = 2 };

// Text render modes.
enum : int { QV_FPDF_TEXTRENDERMODE_FILL = 0, QV_FPDF_TEXTRENDERMODE_INVISIBLE = 3 };

QV_PDFIUM_FN FPDF_FONT FPDFText_LoadFont(FPDF_DOCUMENT document, const uint8_t* data, uint32_t size, int font_type, FPDF_BOOL cid);
QV_PDFIUM_FN FPDF_FONT FPDFText_LoadStandardFont(FPDF_DOCUMENT document, FPDF_BYTESTRING font);
QV_PDFIUM_FN FPDF_PAGEOBJECT FPDFPageObj_CreateTextObj(FPDF_DOCUMENT document, FPDF_FONT font, float font_size);
QV_PDFIUM_FN FPDF_PAGEOBJECT FPDFPageObj_NewTextObj(FPDF_DOCUMENT document, FPDF_BYTESTRING font, float font_size);
QV_PDFIUM_FN FPDF_BOOL FPDFText_SetText(FPDF_PAGEOBJECT text_object, FPDF_WIDESTRING text);
QV_PDFIUM_FN unsigned long FPDFTextObj_GetText(FPDF_PAGEOBJECT text_object, FPDF_TEXTPAGE text_page, FPDF_WCHAR* buffer, unsigned long length);
QV_PDFIUM_FN FPDF_BOOL FPDFTextObj_SetTextRenderMode(FPDF_PAGEOBJECT text, int render_mode);
QV_PDFIUM_FN int FPDFTextObj_GetTextRenderMode(FPDF_PAGEOBJECT text);
QV_PDFIUM_FN FPDF_BOOL FPDFFont_GetGlyphWidth(FPDF_FONT font, uint32_t glyph, float font_size, float* width);
QV_PDFIUM_FN FPDF_BOOL FPDFText_GetCharOrigin(FPDF_TEXTPAGE text_page, int index, double* x, double* y);
QV_PDFIUM_FN int FPDFText_GetBoundedText(FPDF_TEXTPAGE text_page, double left, double top, double right, double bottom, unsigned short* buffer, int buflen);

}  // extern "C"
