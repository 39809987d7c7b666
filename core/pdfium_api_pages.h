// PDFium functions of the pages area.
#pragma once

extern "C" {

}  // extern "C"
