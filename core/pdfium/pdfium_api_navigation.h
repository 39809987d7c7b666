// PDFium functions of the navigation area: links, destinations, actions and bookmarks.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

extern "C" {

// FPDFAction_GetType values.
enum : unsigned long {
  QV_PDFACTION_UNSUPPORTED = 0,
  QV_PDFACTION_GOTO = 1,
  QV_PDFACTION_REMOTEGOTO = 2,
  QV_PDFACTION_URI = 3,
  QV_PDFACTION_LAUNCH = 4,
  QV_PDFACTION_EMBEDDEDGOTO = 5,
};

QV_PDFIUM_FN FPDF_BOOL FPDFLink_Enumerate(FPDF_PAGE page, int* start_pos, FPDF_LINK* link_annot);
QV_PDFIUM_FN FPDF_BOOL FPDFLink_GetAnnotRect(FPDF_LINK link_annot, FS_RECTF* rect);
QV_PDFIUM_FN FPDF_DEST FPDFLink_GetDest(FPDF_DOCUMENT document, FPDF_LINK link);
QV_PDFIUM_FN FPDF_ACTION FPDFLink_GetAction(FPDF_LINK link);
QV_PDFIUM_FN int FPDFDest_GetDestPageIndex(FPDF_DOCUMENT document, FPDF_DEST dest);
QV_PDFIUM_FN unsigned long FPDFAction_GetType(FPDF_ACTION action);
QV_PDFIUM_FN FPDF_DEST FPDFAction_GetDest(FPDF_DOCUMENT document, FPDF_ACTION action);
QV_PDFIUM_FN unsigned long FPDFAction_GetURIPath(FPDF_DOCUMENT document, FPDF_ACTION action, void* buffer, unsigned long buflen);
QV_PDFIUM_FN FPDF_BOOKMARK FPDFBookmark_GetFirstChild(FPDF_DOCUMENT document, FPDF_BOOKMARK bookmark);
QV_PDFIUM_FN FPDF_BOOKMARK FPDFBookmark_GetNextSibling(FPDF_DOCUMENT document, FPDF_BOOKMARK bookmark);
QV_PDFIUM_FN unsigned long FPDFBookmark_GetTitle(FPDF_BOOKMARK bookmark, void* buffer, unsigned long buflen);
QV_PDFIUM_FN FPDF_DEST FPDFBookmark_GetDest(FPDF_DOCUMENT document, FPDF_BOOKMARK bookmark);
QV_PDFIUM_FN FPDF_ACTION FPDFBookmark_GetAction(FPDF_BOOKMARK bookmark);

}  // extern "C"
