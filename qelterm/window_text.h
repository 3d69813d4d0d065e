// The words qelterm's window uses for its port: the port's name, and the
// window title with the port, its settings and its state.
#pragma once

#include <string>

namespace qelterm {

// The port the control has (COM number), named as the user gave it when
// that was a device path or a remote port mapped to this number, else as
// "COMn (device)": "/dev/ttyUSB0", "rfc2217://10.0.0.5:2217",
// "COM3 (/dev/ttyUSB0)".
std::string portLabel(const std::string& given, int givenNumber, int number);

// "board.sco: /dev/ttyUSB0 115200,n,8,1 [Connected] - qelterm"; the
// project part only with a project file.
std::string windowTitle(const std::string& projectFile, const std::string& port, const std::string& settings,
                        const std::string& state);

}  // namespace qelterm
