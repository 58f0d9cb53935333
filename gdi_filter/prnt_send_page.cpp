// Page compression and transmission.
// Placeholder: no image data is sent yet.
#include "common.h"
#include "prnt.h"

unsigned long gImageChecksum = 0;

int Prnt_SendPage(PGDI_SEND_PAGE_PARAM, int platform) {
  return platform >= PLATFORM_C && platform <= PLATFORM_M;
}
