// A build that leaves the DLL search as the system has it, the program's own
// folder first, so the planting test can show that it notices.
#include "Main.h"

void RestrictDllSearch() {}
