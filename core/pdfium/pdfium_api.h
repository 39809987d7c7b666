// Declarations of the PDFium C functions and records this program calls, written from the
// library's documented public interface; the library ships without headers. Every function is
// declared on one line starting with QV_PDFIUM_FN: the configure step checks each one against
// the library's exported symbols. Record layouts must match the library exactly.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <cstddef>
#include <cstdint>

extern "C" {

#define QV_PDFIUM_FN

typedef struct fpdf_document_t__* FPDF_DOCUMENT;
typedef struct fpdf_page_t__* FPDF_PAGE;
typedef struct fpdf_textpage_t__* FPDF_TEXTPAGE;
typedef struct fpdf_bitmap_t__* FPDF_BITMAP;
typedef struct fpdf_link_t__* FPDF_LINK;
typedef struct fpdf_pagelink_t__* FPDF_PAGELINK;
typedef struct fpdf_dest_t__* FPDF_DEST;
typedef struct fpdf_action_t__* FPDF_ACTION;
typedef struct fpdf_bookmark_t__* FPDF_BOOKMARK;
typedef struct fpdf_pageobject_t__* FPDF_PAGEOBJECT;
typedef struct fpdf_font_t__* FPDF_FONT;
typedef struct fpdf_annotation_t__* FPDF_ANNOTATION;
typedef struct fpdf_pathsegment_t__* FPDF_PATHSEGMENT;
typedef struct fpdf_form_handle_t__* FPDF_FORMHANDLE;

typedef int FPDF_BOOL;
typedef int FPDF_ERROR;
typedef unsigned long FPDF_DWORD;
typedef const char* FPDF_BYTESTRING;
typedef const char* FPDF_STRING;
typedef const unsigned short* FPDF_WIDESTRING;
typedef int FPDF_ANNOTATION_SUBTYPE;

// FPDF_GetLastError codes.
enum : unsigned long {
  QV_FPDF_ERR_SUCCESS = 0,
  QV_FPDF_ERR_UNKNOWN = 1,
  QV_FPDF_ERR_FILE = 2,
  QV_FPDF_ERR_FORMAT = 3,
  QV_FPDF_ERR_PASSWORD = 4,
  QV_FPDF_ERR_SECURITY = 5,
  QV_FPDF_ERR_PAGE = 6,
};

// Save flags of FPDF_SaveAsCopy; incremental saving is broken in the packaged build.
enum : FPDF_DWORD { QV_FPDF_INCREMENTAL = 1, QV_FPDF_NO_INCREMENTAL = 2, QV_FPDF_REMOVE_SECURITY = 3 };

// Render flags.
enum : int { QV_FPDF_ANNOT = 0x01, QV_FPDF_LCD_TEXT = 0x02, QV_FPDF_PRINTING = 0x800 };

// Bitmap formats.
enum : int { QV_FPDFBitmap_Gray = 1, QV_FPDFBitmap_BGR = 2, QV_FPDFBitmap_BGRx = 3, QV_FPDFBitmap_BGRA = 4 };

// Page object types.
enum : int {
  QV_FPDF_PAGEOBJ_UNKNOWN = 0, QV_FPDF_PAGEOBJ_TEXT = 1, QV_FPDF_PAGEOBJ_PATH = 2,
  QV_FPDF_PAGEOBJ_IMAGE = 3, QV_FPDF_PAGEOBJ_SHADING = 4, QV_FPDF_PAGEOBJ_FORM = 5,
};

struct FS_RECTF {
  float left;
  float top;
  float right;
  float bottom;
};
struct FS_POINTF {
  float x;
  float y;
};
struct FS_QUADPOINTSF {
  float x1, y1, x2, y2, x3, y3, x4, y4;
};
struct FS_MATRIX {
  float a, b, c, d, e, f;
};
struct FPDF_SYSTEMTIME {
  unsigned short wYear;
  unsigned short wMonth;
  unsigned short wDayOfWeek;
  unsigned short wDay;
  unsigned short wHour;
  unsigned short wMinute;
  unsigned short wSecond;
  unsigned short wMilliseconds;
};

struct FPDF_FILEWRITE {
  int version;  // 1
  int (*WriteBlock)(FPDF_FILEWRITE* pThis, const void* pData, unsigned long size);
};

typedef void (*TimerCallback)(int idEvent);

// Version 1 of the form-fill record. PDFium reads nothing past m_pJsPlatform for version 1;
// the reserved tail stays zero so that a library reading further sees null callbacks.
struct FPDF_FORMFILLINFO {
  int version;
  void (*Release)(FPDF_FORMFILLINFO* pThis);
  void (*FFI_Invalidate)(FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, double left, double top,
                         double right, double bottom);
  void (*FFI_OutputSelectedRect)(FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, double left,
                                 double top, double right, double bottom);
  void (*FFI_SetCursor)(FPDF_FORMFILLINFO* pThis, int nCursorType);
  int (*FFI_SetTimer)(FPDF_FORMFILLINFO* pThis, int uElapse, TimerCallback lpTimerFunc);
  void (*FFI_KillTimer)(FPDF_FORMFILLINFO* pThis, int nTimerID);
  FPDF_SYSTEMTIME (*FFI_GetLocalTime)(FPDF_FORMFILLINFO* pThis);
  void (*FFI_OnChange)(FPDF_FORMFILLINFO* pThis);
  FPDF_PAGE (*FFI_GetPage)(FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document, int nPageIndex);
  FPDF_PAGE (*FFI_GetCurrentPage)(FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document);
  int (*FFI_GetRotation)(FPDF_FORMFILLINFO* pThis, FPDF_PAGE page);
  void (*FFI_ExecuteNamedAction)(FPDF_FORMFILLINFO* pThis, FPDF_BYTESTRING namedAction);
  void (*FFI_SetTextFieldFocus)(FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING value,
                                FPDF_DWORD valueLen, FPDF_BOOL is_focus);
  void (*FFI_DoURIAction)(FPDF_FORMFILLINFO* pThis, FPDF_BYTESTRING bsURI);
  void (*FFI_DoGoToAction)(FPDF_FORMFILLINFO* pThis, int nPageIndex, int zoomMode,
                           float* fPosArray, int sizeofArray);
  void* m_pJsPlatform;
  void* reserved_v2[19];
};

// Library and documents.
QV_PDFIUM_FN void FPDF_InitLibrary();
QV_PDFIUM_FN FPDF_DOCUMENT FPDF_LoadMemDocument(const void* data_buf, int size, FPDF_BYTESTRING password);
QV_PDFIUM_FN FPDF_DOCUMENT FPDF_LoadMemDocument64(const void* data_buf, size_t size, FPDF_BYTESTRING password);
QV_PDFIUM_FN unsigned long FPDF_GetLastError();
QV_PDFIUM_FN void FPDF_CloseDocument(FPDF_DOCUMENT document);
QV_PDFIUM_FN int FPDF_GetPageCount(FPDF_DOCUMENT document);
QV_PDFIUM_FN FPDF_BOOL FPDF_GetFileVersion(FPDF_DOCUMENT doc, int* fileVersion);
QV_PDFIUM_FN int FPDF_GetSecurityHandlerRevision(FPDF_DOCUMENT document);
QV_PDFIUM_FN unsigned long FPDF_GetMetaText(FPDF_DOCUMENT document, FPDF_BYTESTRING tag, void* buffer, unsigned long buflen);
QV_PDFIUM_FN FPDF_DOCUMENT FPDF_CreateNewDocument();
QV_PDFIUM_FN FPDF_BOOL FPDF_SaveAsCopy(FPDF_DOCUMENT document, FPDF_FILEWRITE* pFileWrite, FPDF_DWORD flags);
QV_PDFIUM_FN FPDF_BOOL FPDF_SaveWithVersion(FPDF_DOCUMENT document, FPDF_FILEWRITE* pFileWrite, FPDF_DWORD flags, int fileVersion);

// Pages.
QV_PDFIUM_FN FPDF_PAGE FPDF_LoadPage(FPDF_DOCUMENT document, int page_index);
QV_PDFIUM_FN void FPDF_ClosePage(FPDF_PAGE page);
QV_PDFIUM_FN double FPDF_GetPageWidth(FPDF_PAGE page);
QV_PDFIUM_FN double FPDF_GetPageHeight(FPDF_PAGE page);
QV_PDFIUM_FN float FPDF_GetPageWidthF(FPDF_PAGE page);
QV_PDFIUM_FN float FPDF_GetPageHeightF(FPDF_PAGE page);
QV_PDFIUM_FN FPDF_BOOL FPDF_GetPageBoundingBox(FPDF_PAGE page, FS_RECTF* rect);
QV_PDFIUM_FN int FPDFPage_GetRotation(FPDF_PAGE page);
QV_PDFIUM_FN void FPDFPage_SetRotation(FPDF_PAGE page, int rotate);
QV_PDFIUM_FN FPDF_BOOL FPDFPage_GetMediaBox(FPDF_PAGE page, float* left, float* bottom, float* right, float* top);
QV_PDFIUM_FN FPDF_BOOL FPDFPage_GetCropBox(FPDF_PAGE page, float* left, float* bottom, float* right, float* top);
QV_PDFIUM_FN void FPDFPage_SetMediaBox(FPDF_PAGE page, float left, float bottom, float right, float top);
QV_PDFIUM_FN void FPDFPage_SetCropBox(FPDF_PAGE page, float left, float bottom, float right, float top);
QV_PDFIUM_FN FPDF_BOOL FPDFPage_GenerateContent(FPDF_PAGE page);

// Bitmaps and rendering.
QV_PDFIUM_FN FPDF_BITMAP FPDFBitmap_Create(int width, int height, int alpha);
QV_PDFIUM_FN FPDF_BITMAP FPDFBitmap_CreateEx(int width, int height, int format, void* first_scan, int stride);
QV_PDFIUM_FN FPDF_BOOL FPDFBitmap_FillRect(FPDF_BITMAP bitmap, int left, int top, int width, int height, FPDF_DWORD color);
QV_PDFIUM_FN void* FPDFBitmap_GetBuffer(FPDF_BITMAP bitmap);
QV_PDFIUM_FN int FPDFBitmap_GetStride(FPDF_BITMAP bitmap);
QV_PDFIUM_FN void FPDFBitmap_Destroy(FPDF_BITMAP bitmap);
QV_PDFIUM_FN void FPDF_RenderPageBitmap(FPDF_BITMAP bitmap, FPDF_PAGE page, int start_x, int start_y, int size_x, int size_y, int rotate, int flags);
QV_PDFIUM_FN void FPDF_RenderPageBitmapWithMatrix(FPDF_BITMAP bitmap, FPDF_PAGE page, const FS_MATRIX* matrix, const FS_RECTF* clipping, int flags);

// Forms.
QV_PDFIUM_FN int FPDF_GetFormType(FPDF_DOCUMENT document);
QV_PDFIUM_FN FPDF_FORMHANDLE FPDFDOC_InitFormFillEnvironment(FPDF_DOCUMENT document, FPDF_FORMFILLINFO* formInfo);
QV_PDFIUM_FN void FPDFDOC_ExitFormFillEnvironment(FPDF_FORMHANDLE hHandle);
QV_PDFIUM_FN void FPDF_SetFormFieldHighlightColor(FPDF_FORMHANDLE hHandle, int fieldType, unsigned long color);
QV_PDFIUM_FN void FPDF_SetFormFieldHighlightAlpha(FPDF_FORMHANDLE hHandle, unsigned char alpha);
QV_PDFIUM_FN void FORM_DoDocumentJSAction(FPDF_FORMHANDLE hHandle);
QV_PDFIUM_FN void FORM_DoDocumentOpenAction(FPDF_FORMHANDLE hHandle);
QV_PDFIUM_FN void FORM_OnAfterLoadPage(FPDF_PAGE page, FPDF_FORMHANDLE hHandle);
QV_PDFIUM_FN void FORM_OnBeforeClosePage(FPDF_PAGE page, FPDF_FORMHANDLE hHandle);
QV_PDFIUM_FN FPDF_BOOL FORM_OnMouseMove(FPDF_FORMHANDLE hHandle, FPDF_PAGE page, int modifier, double page_x, double page_y);
QV_PDFIUM_FN FPDF_BOOL FORM_OnLButtonDown(FPDF_FORMHANDLE hHandle, FPDF_PAGE page, int modifier, double page_x, double page_y);
QV_PDFIUM_FN FPDF_BOOL FORM_OnLButtonUp(FPDF_FORMHANDLE hHandle, FPDF_PAGE page, int modifier, double page_x, double page_y);
QV_PDFIUM_FN FPDF_BOOL FORM_OnChar(FPDF_FORMHANDLE hHandle, FPDF_PAGE page, int nChar, int modifier);
QV_PDFIUM_FN FPDF_BOOL FORM_OnKeyDown(FPDF_FORMHANDLE hHandle, FPDF_PAGE page, int nKeyCode, int modifier);
QV_PDFIUM_FN FPDF_BOOL FORM_SelectAllText(FPDF_FORMHANDLE hHandle, FPDF_PAGE page);
QV_PDFIUM_FN FPDF_BOOL FORM_OnKeyUp(FPDF_FORMHANDLE hHandle, FPDF_PAGE page, int nKeyCode, int modifier);
QV_PDFIUM_FN void FPDF_FFLDraw(FPDF_FORMHANDLE hHandle, FPDF_BITMAP bitmap, FPDF_PAGE page, int start_x, int start_y, int size_x, int size_y, int rotate, int flags);

// Fonts.
QV_PDFIUM_FN void FPDFFont_Close(FPDF_FONT font);

}  // extern "C"

// Each area of the adapter declares its further functions in a header of its own.
#include "core/pdfium/pdfium_api_render.h"
#include "core/pdfium/pdfium_api_navigation.h"
#include "core/pdfium/pdfium_api_save.h"
#include "core/pdfium/pdfium_api_pages.h"
#include "core/pdfium/pdfium_api_images.h"
#include "core/pdfium/pdfium_api_text.h"
#include "core/pdfium/pdfium_api_fonts.h"
