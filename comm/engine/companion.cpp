#include "companion.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>

namespace qelcomm {
namespace {

std::string ownFolder()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&companionSymbol), &info) || !info.dli_fname)
        return {};
    const std::string path = info.dli_fname;
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* load(const std::string& fileName)
{
    static std::mutex lock;
    static std::map<std::string, void*> loaded;
    std::lock_guard guard(lock);
    if (auto it = loaded.find(fileName); it != loaded.end())
        return it->second;
    void* handle = nullptr;
    if (const std::string folder = ownFolder(); !folder.empty())
        handle = dlopen((folder + fileName).c_str(), RTLD_NOW);
    if (!handle)
        handle = dlopen(fileName.c_str(), RTLD_NOW);
    loaded[fileName] = handle;   // a missing library is not looked for again
    return handle;
}

}  // namespace

void* companionSymbol(const char* fileName, const char* symbol)
{
    if (!fileName || !symbol)
        return nullptr;
    void* handle = load(fileName);
    return handle ? dlsym(handle, symbol) : nullptr;
}

}  // namespace qelcomm
