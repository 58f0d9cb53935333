// rastertoVarnel: job flow and page loop.
// Placeholder until the page loop is written.
#include "rastertoVarnel.h"

#include <cstdio>

int rastertoVarnel_main(int argc, char* argv[]) {
  (void)argv;
  if (argc != 6 && argc != 7) {
    fputs("ERROR: job-id user title copies options [file]\n", stderr);
    return 1;
  }
  fputs("ERROR: No pages found!\n", stderr);
  return 1;
}
