// What an errno value means, in Portuguese: one table for the converter's
// messages and the program's windows.
#pragma once

#include <string>

namespace bsp2map {

std::string errnoText(int error);

} // namespace bsp2map
