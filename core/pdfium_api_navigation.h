// PDFium functions of the navigation area.
#pragma once

extern "C" {

}  // extern "C"
