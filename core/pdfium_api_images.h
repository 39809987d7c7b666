// PDFium functions of the images area.
#pragma once

extern "C" {

}  // extern "C"
