// PDFium functions of the render area.
#pragma once

extern "C" {

}  // extern "C"
