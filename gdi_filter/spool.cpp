// Collated copies and manual duplex.
// Placeholder: nothing is spooled or replayed yet.
#include "spool.h"

int SpoolSetUp(PSPOOL_JOB, const cups_page_header2_t*) { return 1; }
void SpoolRoutePage(PSPOOL_JOB) {}
int SpoolEndOfJob(PSPOOL_JOB) { return 1; }
void SpoolRemove(PSPOOL_JOB) {}
