// Page rotation and blank-page insertion.
// Placeholder: pages are not turned and no blank page is sent yet.
#include "page_transform.h"

int Rotate180(char* imgBuf, unsigned int widthBytes, unsigned int heightPixels) {
  return imgBuf != nullptr && widthBytes != 0 && heightPixels != 0;
}
int Rotate90(unsigned char* imgBuf, unsigned int widthBytes, unsigned int heightPixels) {
  return imgBuf != nullptr && widthBytes != 0 && heightPixels != 0;
}
void InsertBlankPage(cups_page_header2_t, PGDI_START_PAGE_PARAM, int) {}
