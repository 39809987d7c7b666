// PDFium functions of the save area: annotations written into saved copies.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

extern "C" {

typedef unsigned short FPDF_WCHAR;

// Annotation subtypes.
enum : int {
  QV_FPDF_ANNOT_TEXT = 1, QV_FPDF_ANNOT_LINK = 2, QV_FPDF_ANNOT_FREETEXT = 3, QV_FPDF_ANNOT_SQUARE = 5,
  QV_FPDF_ANNOT_CIRCLE = 6, QV_FPDF_ANNOT_HIGHLIGHT = 9, QV_FPDF_ANNOT_UNDERLINE = 10,
  QV_FPDF_ANNOT_SQUIGGLY = 11, QV_FPDF_ANNOT_STRIKEOUT = 12, QV_FPDF_ANNOT_STAMP = 13,
  QV_FPDF_ANNOT_INK = 15,
};

// Colour types of FPDFAnnot_SetColor.
enum : int { QV_FPDFANNOT_COLORTYPE_Color = 0, QV_FPDFANNOT_COLORTYPE_InteriorColor = 1 };

// Appearance modes of FPDFAnnot_SetAP.
enum : int { QV_FPDF_ANNOT_APPEARANCEMODE_NORMAL = 0 };

QV_PDFIUM_FN FPDF_BOOL FORM_ForceToKillFocus(FPDF_FORMHANDLE hHandle);
QV_PDFIUM_FN FPDF_ANNOTATION FPDFPage_CreateAnnot(FPDF_PAGE page, FPDF_ANNOTATION_SUBTYPE subtype);
QV_PDFIUM_FN int FPDFPage_GetAnnotCount(FPDF_PAGE page);
QV_PDFIUM_FN FPDF_ANNOTATION FPDFPage_GetAnnot(FPDF_PAGE page, int index);
QV_PDFIUM_FN int FPDFPage_GetAnnotIndex(FPDF_PAGE page, FPDF_ANNOTATION annot);
QV_PDFIUM_FN void FPDFPage_CloseAnnot(FPDF_ANNOTATION annot);
QV_PDFIUM_FN FPDF_BOOL FPDFPage_RemoveAnnot(FPDF_PAGE page, int index);
QV_PDFIUM_FN FPDF_ANNOTATION_SUBTYPE FPDFAnnot_GetSubtype(FPDF_ANNOTATION annot);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_SetColor(FPDF_ANNOTATION annot, int type, unsigned int R, unsigned int G, unsigned int B, unsigned int A);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_GetColor(FPDF_ANNOTATION annot, int type, unsigned int* R, unsigned int* G, unsigned int* B, unsigned int* A);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_AppendAttachmentPoints(FPDF_ANNOTATION annot, const FS_QUADPOINTSF* quad_points);
QV_PDFIUM_FN size_t FPDFAnnot_CountAttachmentPoints(FPDF_ANNOTATION annot);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_GetAttachmentPoints(FPDF_ANNOTATION annot, size_t quad_index, FS_QUADPOINTSF* quad_points);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_SetRect(FPDF_ANNOTATION annot, const FS_RECTF* rect);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_GetRect(FPDF_ANNOTATION annot, FS_RECTF* rect);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_SetStringValue(FPDF_ANNOTATION annot, FPDF_BYTESTRING key, FPDF_WIDESTRING value);
QV_PDFIUM_FN unsigned long FPDFAnnot_GetStringValue(FPDF_ANNOTATION annot, FPDF_BYTESTRING key, FPDF_WCHAR* buffer, unsigned long buflen);
QV_PDFIUM_FN int FPDFAnnot_AddInkStroke(FPDF_ANNOTATION annot, const FS_POINTF* points, size_t point_count);
QV_PDFIUM_FN unsigned long FPDFAnnot_GetInkListCount(FPDF_ANNOTATION annot);
QV_PDFIUM_FN unsigned long FPDFAnnot_GetInkListPath(FPDF_ANNOTATION annot, unsigned long path_index, FS_POINTF* buffer, unsigned long length);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_SetAP(FPDF_ANNOTATION annot, int appearanceMode, FPDF_WIDESTRING value);
QV_PDFIUM_FN FPDF_BOOL FPDFAnnot_AppendObject(FPDF_ANNOTATION annot, FPDF_PAGEOBJECT obj);
QV_PDFIUM_FN int FPDFAnnot_GetObjectCount(FPDF_ANNOTATION annot);
QV_PDFIUM_FN FPDF_PAGEOBJECT FPDFAnnot_GetObject(FPDF_ANNOTATION annot, int index);

}  // extern "C"
