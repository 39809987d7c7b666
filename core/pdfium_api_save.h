// PDFium functions of the save area.
#pragma once

extern "C" {

}  // extern "C"
