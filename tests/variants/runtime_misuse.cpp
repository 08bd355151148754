// A build whose main block misuses a container of the C++ runtime: the
// runtime's own complaint reaches the entry's last resort.
#include <string>

#include "Main.h"

void MainBlock() { static_cast<void>(std::string("ab").at(5)); }
