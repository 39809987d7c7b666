// PDFium functions of the text area.
#pragma once

extern "C" {

}  // extern "C"
