// PDFium's system-font interface: where its form layer finds a font for characters that a
// field's own font lacks.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

extern "C" {

// FPDF_SYSFONTINFO, version 1.
struct FPDF_SYSFONTINFO {
  int version;
  void (*Release)(FPDF_SYSFONTINFO* pThis);
  void (*EnumFonts)(FPDF_SYSFONTINFO* pThis, void* pMapper);
  void* (*MapFont)(FPDF_SYSFONTINFO* pThis, int weight, FPDF_BOOL bItalic, int charset, int pitch_family,
                   const char* face, FPDF_BOOL* bExact);
  void* (*GetFont)(FPDF_SYSFONTINFO* pThis, const char* face);
  unsigned long (*GetFontData)(FPDF_SYSFONTINFO* pThis, void* hFont, unsigned int table, unsigned char* buffer,
                               unsigned long buf_size);
  unsigned long (*GetFaceName)(FPDF_SYSFONTINFO* pThis, void* hFont, char* buffer, unsigned long buf_size);
  int (*GetFontCharset)(FPDF_SYSFONTINFO* pThis, void* hFont);
  void (*DeleteFont)(FPDF_SYSFONTINFO* pThis, void* hFont);
};

QV_PDFIUM_FN FPDF_SYSFONTINFO* FPDF_GetDefaultSystemFontInfo();
QV_PDFIUM_FN void FPDF_SetSystemFontInfo(FPDF_SYSFONTINFO* pFontInfo);
QV_PDFIUM_FN void FPDF_AddInstalledFont(void* mapper, const char* face, int charset);

}  // extern "C"
