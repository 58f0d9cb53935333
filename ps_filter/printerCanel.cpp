// The status thread.
// Placeholder: no status is queried yet.
#include "printerCanel.h"

void* Printer_cancle_query_tread(void*) { return nullptr; }
