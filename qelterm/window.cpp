#include "window.h"

#include <iostream>

namespace qelterm {

int runWindow(const Options&)
{
    std::cerr << "qelterm: the terminal window is not available in this build\n";
    return 2;
}

}  // namespace qelterm
