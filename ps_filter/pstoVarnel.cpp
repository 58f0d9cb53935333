// pstoVarnel: job flow.
// Placeholder until the copiers are written.
#include "pstoVarnel.h"

int pstoVarnel_main(int, char*[]) { return 0; }
