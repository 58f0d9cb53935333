// Entry of the pstoVarnel CUPS filter.
#pragma once

int pstoVarnel_main(int argc, char* argv[]);
