// PDFium functions of the images area: page objects, images, filled paths.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

extern "C" {

// Path fill modes of FPDFPath_SetDrawMode.
enum : int { QV_FPDF_FILLMODE_NONE = 0, QV_FPDF_FILLMODE_ALTERNATE = 1, QV_FPDF_FILLMODE_WINDING = 2 };

QV_PDFIUM_FN int FPDFPage_CountObjects(FPDF_PAGE page);
QV_PDFIUM_FN FPDF_PAGEOBJECT FPDFPage_GetObject(FPDF_PAGE page, int index);
QV_PDFIUM_FN void FPDFPage_InsertObject(FPDF_PAGE page, FPDF_PAGEOBJECT page_obj);
QV_PDFIUM_FN FPDF_BOOL FPDFPage_RemoveObject(FPDF_PAGE page, FPDF_PAGEOBJECT page_obj);
QV_PDFIUM_FN void FPDFPageObj_Destroy(FPDF_PAGEOBJECT page_obj);
QV_PDFIUM_FN int FPDFPageObj_GetType(FPDF_PAGEOBJECT page_object);
QV_PDFIUM_FN FPDF_BOOL FPDFPageObj_GetBounds(FPDF_PAGEOBJECT page_object, float* left, float* bottom, float* right, float* top);
QV_PDFIUM_FN void FPDFPageObj_Transform(FPDF_PAGEOBJECT page_object, double a, double b, double c, double d, double e, double f);
QV_PDFIUM_FN FPDF_BOOL FPDFPageObj_GetMatrix(FPDF_PAGEOBJECT page_object, FS_MATRIX* matrix);
QV_PDFIUM_FN FPDF_BOOL FPDFPageObj_SetFillColor(FPDF_PAGEOBJECT page_object, unsigned int R, unsigned int G, unsigned int B, unsigned int A);
QV_PDFIUM_FN FPDF_BOOL FPDFPageObj_GetFillColor(FPDF_PAGEOBJECT page_object, unsigned int* R, unsigned int* G, unsigned int* B, unsigned int* A);
QV_PDFIUM_FN FPDF_PAGEOBJECT FPDFPageObj_NewImageObj(FPDF_DOCUMENT document);
QV_PDFIUM_FN FPDF_BOOL FPDFImageObj_SetBitmap(FPDF_PAGE* pages, int count, FPDF_PAGEOBJECT image_object, FPDF_BITMAP bitmap);
QV_PDFIUM_FN FPDF_BOOL FPDFImageObj_SetMatrix(FPDF_PAGEOBJECT image_object, double a, double b, double c, double d, double e, double f);
QV_PDFIUM_FN FPDF_PAGEOBJECT FPDFPageObj_CreateNewRect(float x, float y, float w, float h);
QV_PDFIUM_FN FPDF_BOOL FPDFPageObj_SetStrokeColor(FPDF_PAGEOBJECT page_object, unsigned int R, unsigned int G, unsigned int B, unsigned int A);
QV_PDFIUM_FN FPDF_BOOL FPDFPageObj_SetStrokeWidth(FPDF_PAGEOBJECT page_object, float width);
QV_PDFIUM_FN FPDF_BOOL FPDFPath_SetDrawMode(FPDF_PAGEOBJECT path, int fillmode, FPDF_BOOL stroke);
QV_PDFIUM_FN int FPDFFormObj_CountObjects(FPDF_PAGEOBJECT form_object);

}  // extern "C"
