#include "pstoVarnel.h"

int main(int argc, char* argv[]) { return pstoVarnel_main(argc, argv); }
