// COM name resolution: a virtual port's link in the port folder, then the
// [Ports] map file, then the classic /dev/ttyS<n-1>.
#include "namespace.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace serial {

namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// The value of key in the [Ports] section, or "" when absent.
std::string mappedPath(const std::string& file, const std::string& key)
{
    std::ifstream in(file);
    std::string line;
    bool inPorts = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[') {
            inPorts = lower(line) == "[ports]";
            continue;
        }
        const auto eq = line.find('=');
        if (inPorts && eq != std::string::npos && lower(trim(line.substr(0, eq))) == lower(key))
            return trim(line.substr(eq + 1));
    }
    return {};
}

bool exists(const std::string& path)
{
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool isRemotePortName(const std::string& name)
{
    return lower(name.substr(0, 10)) == "rfc2217://";
}

int comPortNumber(const std::string& name)
{
    std::string s = lower(name);
    if (s.rfind("\\\\.\\", 0) == 0)
        s.erase(0, 4);
    if (s.size() < 4 || s.compare(0, 3, "com") != 0 || s.size() > 12)
        return 0;
    long n = 0;
    for (std::size_t i = 3; i < s.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return 0;
        n = n * 10 + (s[i] - '0');
    }
    return n > 0 && n <= 0x7fffffff ? int(n) : 0;
}

std::string portFolder()
{
    std::string dir = env("LINTREL_PORT_DIR");
    if (!dir.empty())
        return dir;
    dir = env("XDG_RUNTIME_DIR");
    if (!dir.empty())
        return dir + "/lintrel";
    return "/tmp/lintrel-" + std::to_string(::getuid());
}

std::string portsMapPath()
{
    std::string file = env("LINTREL_PORTS");
    if (!file.empty())
        return file;
    std::string config = env("XDG_CONFIG_HOME");
    if (config.empty())
        config = env("HOME") + "/.config";
    return config + "/lintrel/ports.ini";
}

std::string resolvePortName(const std::string& name)
{
    const int n = comPortNumber(name);
    if (n == 0)
        return name;
    const std::string key = "COM" + std::to_string(n);
    const std::string link = portFolder() + "/" + key;
    if (exists(link))
        return link;
    const std::string mapped = mappedPath(portsMapPath(), key);
    if (!mapped.empty())
        return mapped;
    return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace serial
