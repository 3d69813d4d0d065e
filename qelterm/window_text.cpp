#include "window_text.h"

#include "serial/namespace.h"

namespace qelterm {

std::string portLabel(const std::string& given, int givenNumber, int number)
{
    if (number == givenNumber && !given.empty() && serial::comPortNumber(given) == 0)
        return given;
    const std::string com = "COM" + std::to_string(number);
    const std::string device = serial::resolvePortName(com);
    return device == com ? com : com + " (" + device + ")";
}

std::string windowTitle(const std::string& projectFile, const std::string& port, const std::string& settings,
                        const std::string& state)
{
    std::string title;
    if (!projectFile.empty()) {
        const auto slash = projectFile.find_last_of('/');
        title = (slash == std::string::npos ? projectFile : projectFile.substr(slash + 1)) + ": ";
    }
    return title + port + " " + settings + " [" + state + "] - qelterm";
}

}  // namespace qelterm
