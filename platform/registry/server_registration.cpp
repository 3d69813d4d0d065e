#include "registry/server_registration.h"

#include "registry/registry.h"
#include "registry_store.h"

#include <dlfcn.h>
#include <unistd.h>

namespace lt::registry {

bool writeClassEntries(const std::vector<ClassEntry>& entries)
{
    for (const ClassEntry& e : entries) {
        HKEY key = 0;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, e.key, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return false;
        LONG result = ERROR_SUCCESS;
        if (e.value)
            result = RegSetValueExA(key, e.name, REG_SZ, reinterpret_cast<const unsigned char*>(e.value->c_str()),
                                    DWORD(e.value->size() + 1));
        RegCloseKey(key);
        if (result != ERROR_SUCCESS)
            return false;
    }
    return true;
}

bool removeClassKeys(const std::vector<std::string>& keys)
{
    for (const std::string& k : keys) {
        const LONG result = RegDeleteTreeA(HKEY_CLASSES_ROOT, k);
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            return false;
    }
    return true;
}

bool classKeyExists(const std::string& key)
{
    HKEY k = 0;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

std::string moduleFileOf(const void* address)
{
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname)
        return {};
    return info.dli_fname;
}

bool registerTypeLibrary(const std::string& guid, const std::string& version, const std::string& name,
                         const std::string& moduleFile)
{
    if (moduleFile.empty() || ::access(moduleFile.c_str(), R_OK) != 0)
        return false;
    const std::string base = "TypeLib\\" + guid + "\\" + version;
    const std::string folder = moduleFile.substr(0, moduleFile.rfind('/') + 1);
    return writeClassEntries({
        {base, "", name},
        {base + "\\0\\linux", "", moduleFile},
        {base + "\\FLAGS", "", "0"},
        {base + "\\HELPDIR", "", folder},
    });
}

bool unregisterTypeLibrary(const std::string& guid, const std::string& version)
{
    const std::string lib = "TypeLib\\" + guid;
    if (!classKeyExists(lib + "\\" + version))
        return false;
    if (RegDeleteTreeA(HKEY_CLASSES_ROOT, lib + "\\" + version) != ERROR_SUCCESS)
        return false;
    // The library's own key goes with its last version.
    HKEY k = 0;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, lib, 0, KEY_READ, &k) == ERROR_SUCCESS) {
        RegCloseKey(k);
        bool others = false;
        if (auto store = Store::load(HKEY_CLASSES_ROOT))
            for (const StoredKey& key : store->keys())
                others |= key.path.size() > lib.size() + 1 && sameName(key.path.substr(0, lib.size() + 1), lib + "\\");
        if (!others)
            RegDeleteTreeA(HKEY_CLASSES_ROOT, lib);
    }
    return true;
}

HRESULT registerServer(const std::string& typeLibId, const std::string& typeLibName, const std::string& moduleFile,
                       const std::vector<ClassEntry>& entries)
{
    if (!registerTypeLibrary(typeLibId, "1.0", typeLibName, moduleFile))
        return SELFREG_E_TYPELIB;
    return writeClassEntries(entries) ? S_OK : SELFREG_E_CLASS;
}

HRESULT unregisterServer(const std::string& typeLibId, const std::vector<std::string>& classKeys)
{
    if (!unregisterTypeLibrary(typeLibId, "1.0"))
        return SELFREG_E_TYPELIB;
    return removeClassKeys(classKeys) ? S_OK : SELFREG_E_CLASS;
}

}  // namespace lt::registry
