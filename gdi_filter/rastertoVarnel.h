// Entry of the rastertoVarnel CUPS filter.
#pragma once

int rastertoVarnel_main(int argc, char* argv[]);
