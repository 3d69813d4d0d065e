// COM name resolution: a virtual port's link in the port folder, then the
// [Ports] map file, then the classic /dev/ttyS<n-1>.
#include "namespace.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
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

// What path leads to, links followed; empty when it leads nowhere.
std::string followed(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// The lines of the map file, without their line ends; the end style of
// the first line is kept for writing.
std::vector<std::string> readLines(const std::string& file, std::string& eol, bool& found)
{
    std::ifstream in(file, std::ios::binary);
    found = bool(in);
    std::vector<std::string> lines;
    std::string line;
    eol = "\n";
    bool first = true;
    while (std::getline(in, line)) {
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr)
            line.pop_back();
        if (first)
            eol = cr ? "\r\n" : "\n";
        first = false;
        lines.push_back(line);
    }
    return lines;
}

bool isPortsHeader(const std::string& line)
{
    const std::string t = trim(line);
    return !t.empty() && t.front() == '[' && lower(t) == "[ports]";
}

bool isHeader(const std::string& line)
{
    const std::string t = trim(line);
    return !t.empty() && t.front() == '[';
}

bool makeFolders(const std::string& file)
{
    for (std::size_t at = file.find('/', 1); at != std::string::npos; at = file.find('/', at + 1)) {
        const std::string dir = file.substr(0, at);
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
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

PortTarget locatePort(int n)
{
    PortTarget t;
    const std::string key = "COM" + std::to_string(n);
    const std::string link = portFolder() + "/" + key;
    if (exists(link)) {
        t.source = PortTarget::Virtual;
        t.path = link;
    } else if (std::string mapped = mappedPath(portsMapPath(), key); !mapped.empty()) {
        t.source = PortTarget::Mapped;
        t.path = mapped;
    } else {
        t.source = PortTarget::Classic;
        t.path = "/dev/ttyS" + std::to_string(n - 1);
    }
    t.device = followed(t.path);
    return t;
}

std::vector<std::pair<int, std::string>> mappedPorts()
{
    std::vector<std::pair<int, std::string>> out;
    std::string eol;
    bool found = false;
    bool inPorts = false;
    for (const std::string& line : readLines(portsMapPath(), eol, found)) {
        const std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (isHeader(t)) {
            inPorts = isPortsHeader(t);
            continue;
        }
        const auto eq = t.find('=');
        if (!inPorts || eq == std::string::npos)
            continue;
        const int n = comPortNumber(trim(t.substr(0, eq)));
        const std::string path = trim(t.substr(eq + 1));
        if (n > 0 && !path.empty())
            out.emplace_back(n, path);
    }
    return out;
}

bool setMappedPort(int n, const std::string& path, std::string* why)
{
    const std::string file = portsMapPath();
    std::string eol;
    bool found = false;
    std::vector<std::string> lines = readLines(file, eol, found);
    const std::string key = "COM" + std::to_string(n);
    // Every entry for this number goes; the new one takes the place of the
    // first, or ends the [Ports] section, or starts one.
    std::vector<std::string> out;
    bool inPorts = false, placed = path.empty(), sawPorts = false;
    std::size_t sectionEnd = std::string::npos;
    for (const std::string& line : lines) {
        if (isHeader(line)) {
            if (inPorts && sectionEnd == std::string::npos)
                sectionEnd = out.size();
            inPorts = isPortsHeader(line);
            sawPorts = sawPorts || inPorts;
            out.push_back(line);
            continue;
        }
        const std::string t = trim(line);
        const auto eq = t.find('=');
        if (inPorts && eq != std::string::npos && t[0] != ';' && t[0] != '#' &&
            comPortNumber(trim(t.substr(0, eq))) == n) {
            if (!placed) {
                out.push_back(key + "=" + path);
                placed = true;
            }
            continue;
        }
        out.push_back(line);
    }
    if (!placed) {
        if (!sawPorts) {
            out.push_back("[Ports]");
            out.push_back(key + "=" + path);
        } else {
            if (sectionEnd == std::string::npos)
                sectionEnd = out.size();
            // Before the blank lines that end the section.
            while (sectionEnd > 0 && trim(out[sectionEnd - 1]).empty())
                --sectionEnd;
            out.insert(out.begin() + std::ptrdiff_t(sectionEnd), key + "=" + path);
        }
    }

    auto fail = [&](const std::string& what) {
        if (why)
            *why = what + ": " + std::strerror(errno);
        return false;
    };
    if (!makeFolders(file))
        return fail("cannot make the folder of " + file);
    // Written beside and renamed over, so a reader never sees half a file.
    const std::string temp = file + ".new";
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        if (!f)
            return fail("cannot write " + temp);
        for (const std::string& line : out)
            f << line << eol;
        f.flush();
        if (!f)
            return fail("cannot write " + temp);
    }
    struct stat st{};
    if (::stat(file.c_str(), &st) == 0)
        ::chmod(temp.c_str(), st.st_mode & 07777);
    if (std::rename(temp.c_str(), file.c_str()) != 0) {
        std::remove(temp.c_str());
        return fail("cannot replace " + file);
    }
    return true;
}

}  // namespace serial
