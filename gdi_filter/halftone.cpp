// Ordered dithering of grey pages.
// Placeholder: the bitmap stays white.
#include "prnt.h"

unsigned long gImageCoverage = 0;

int HalftoneDither(unsigned char* pSrcImgData, unsigned int, unsigned int, unsigned char* pTarImgData,
                   unsigned int, int, int, int platform) {
  return pSrcImgData != nullptr && pTarImgData != nullptr && platform != 0;
}
