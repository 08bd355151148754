// A build whose main block writes through a null pointer: the entry's
// handler of processor faults reports it.
#include "Main.h"

void MainBlock() { *static_cast<volatile int*>(nullptr) = 1; }
