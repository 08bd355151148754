// A build whose main block throws an error that is not of the program's own
// kind: the entry's last resort reports it.
#include <stdexcept>

#include "Main.h"

void MainBlock() { throw std::runtime_error("An error of a foreign type"); }
