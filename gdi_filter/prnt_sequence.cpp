// Document and page sequences of the three platforms.
// Placeholder: the records are not written yet.
#include "common.h"
#include "prnt.h"

static bool KnownPlatform(int platform) { return platform >= PLATFORM_C && platform <= PLATFORM_M; }

int Prnt_StartDoc(PGDI_START_DOC_PARAM, int platform) { return KnownPlatform(platform); }
int Prnt_StartPage(PGDI_START_PAGE_PARAM, int platform) { return KnownPlatform(platform); }
int Prnt_EndPage(PGDI_END_PAGE_PARAM, int platform) { return KnownPlatform(platform); }
int SendManualDuplexCmd(int platform) { return KnownPlatform(platform); }
int Prnt_EndDoc(PGDI_END_DOC_PARAM, int platform) { return KnownPlatform(platform); }
int SendMachineDuplexCmd(int, int) { return 1; }
