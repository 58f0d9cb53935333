#include "rastertoVarnel.h"

int main(int argc, char* argv[]) { return rastertoVarnel_main(argc, argv); }
