#include "transfer_names.h"

#include <cstdio>
#include <sys/stat.h>

namespace xfer {

bool pathExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

long long regularFileLength(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

std::string resolveInFolder(const std::string& folder, const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos || folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string safeReceivedName(const std::string& proposed)
{
    const std::size_t sep = proposed.find_last_of("/\\");
    std::string last = sep == std::string::npos ? proposed : proposed.substr(sep + 1);
    if (last == "." || last == "..")
        last.clear();
    return last;
}

std::string nextUntitled(const std::string& folder)
{
    for (int i = 0; i <= 999; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "UNTITLED.%03d", i);
        const std::string path = resolveInFolder(folder, name);
        if (!pathExists(path))
            return path;
    }
    return {};
}

std::string nextFreeVariant(const std::string& path)
{
    if (!pathExists(path))
        return path;
    for (int i = 1;; ++i) {
        const std::string candidate = path + "." + std::to_string(i);
        if (!pathExists(candidate))
            return candidate;
    }
}

}  // namespace xfer
