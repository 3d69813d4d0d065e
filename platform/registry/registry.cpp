#include "registry/registry.h"

#include "desktop_mirror_p.h"
#include "registry_store.h"

#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace lt::registry {
namespace {

struct OpenKey {
    HKEY root;
    std::string path;
    REGSAM access;
};

std::mutex g_lock;
std::map<HKEY, OpenKey> g_open;
HKEY g_next = 1;

bool isRoot(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

// Root and path of a key given as a root or an open key, plus a sub-key.
bool locate(HKEY key, const std::string& subKey, OpenKey& out)
{
    if (isRoot(key)) {
        out = {key, normalizePath(subKey), KEY_ALL_ACCESS};
        return true;
    }
    const auto it = g_open.find(key);
    if (it == g_open.end())
        return false;
    out = {it->second.root, joinPath(it->second.path, normalizePath(subKey)), it->second.access};
    return true;
}

HKEY remember(const OpenKey& k)
{
    const HKEY h = g_next++;
    g_open[h] = k;
    return h;
}

// What a change under this key asks of the desktop mirror.
void mirrorAfterChange(const OpenKey& k, const Store& store, const std::string& valueName)
{
    if (k.root == HKEY_CLASSES_ROOT)
        mirrorFileTypes(store);
    else if (k.root == HKEY_CURRENT_USER && isStartKey(k.path))
        mirrorStartEntry(store, valueName);
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, const std::string& subKey, DWORD, REGSAM access, HKEY* result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    OpenKey k;
    if (!locate(key, subKey, k))
        return ERROR_INVALID_HANDLE;
    const auto store = Store::load(k.root);
    if (!store)
        return ERROR_INVALID_HANDLE;
    if (!k.path.empty() && !store->find(k.path))
        return ERROR_FILE_NOT_FOUND;
    k.access = access;
    *result = remember(k);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const std::string& subKey, REGSAM access, HKEY* result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    OpenKey k;
    if (!locate(key, subKey, k))
        return ERROR_INVALID_HANDLE;
    auto store = Store::load(k.root);
    if (!store)
        return ERROR_INVALID_HANDLE;
    if (!k.path.empty() && !store->find(k.path)) {
        store->create(k.path);
        if (!store->save())
            return ERROR_ACCESS_DENIED;
    }
    k.access = access;
    *result = remember(k);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const std::string& valueName, DWORD* type, unsigned char* data,
                      DWORD* size)
{
    std::lock_guard<std::mutex> guard(g_lock);
    OpenKey k;
    if (!locate(key, "", k))
        return ERROR_INVALID_HANDLE;
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    const auto store = Store::load(k.root);
    const StoredKey* stored = store ? store->find(k.path) : nullptr;
    const StoredValue* v = stored ? stored->value(valueName) : nullptr;
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = v->type;
    std::string bytes = v->data;
    if (v->type == REG_SZ)
        bytes.push_back('\0');
    if (!size)
        return ERROR_SUCCESS;
    const DWORD room = *size;
    *size = DWORD(bytes.size());
    if (!data)
        return ERROR_SUCCESS;
    if (room < bytes.size())
        return ERROR_MORE_DATA;
    std::memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const std::string& valueName, DWORD type, const unsigned char* data,
                    DWORD size)
{
    std::lock_guard<std::mutex> guard(g_lock);
    OpenKey k;
    if (!locate(key, "", k))
        return ERROR_INVALID_HANDLE;
    if (!(k.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!data && size)
        return ERROR_INVALID_PARAMETER;
    auto store = Store::load(k.root);
    if (!store)
        return ERROR_INVALID_HANDLE;
    std::string bytes(reinterpret_cast<const char*>(data), data ? size : 0);
    if (type == REG_SZ)
        bytes = bytes.substr(0, bytes.find('\0'));
    StoredKey& stored = store->create(k.path);
    bool found = false;
    for (StoredValue& v : stored.values)
        if (sameName(v.name, valueName)) {
            v.type = type;
            v.data = bytes;
            found = true;
        }
    if (!found)
        stored.values.push_back({valueName, type, bytes});
    if (!store->save())
        return ERROR_ACCESS_DENIED;
    mirrorAfterChange(k, *store, valueName);
    return ERROR_SUCCESS;
}

LONG RegDeleteTreeA(HKEY key, const std::string& subKey)
{
    std::lock_guard<std::mutex> guard(g_lock);
    OpenKey k;
    if (!locate(key, subKey, k))
        return ERROR_INVALID_HANDLE;
    if (!(k.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    auto store = Store::load(k.root);
    if (!store)
        return ERROR_INVALID_HANDLE;
    if (k.path.empty() || store->removeTree(k.path) == 0)
        return ERROR_FILE_NOT_FOUND;
    if (!store->save())
        return ERROR_ACCESS_DENIED;
    mirrorAfterChange(k, *store, "");
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, const std::string& valueName)
{
    std::lock_guard<std::mutex> guard(g_lock);
    OpenKey k;
    if (!locate(key, "", k))
        return ERROR_INVALID_HANDLE;
    if (!(k.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    auto store = Store::load(k.root);
    StoredKey* stored = store ? store->find(k.path) : nullptr;
    if (!stored)
        return ERROR_FILE_NOT_FOUND;
    const auto before = stored->values.size();
    std::erase_if(stored->values, [&](const StoredValue& v) { return sameName(v.name, valueName); });
    if (stored->values.size() == before)
        return ERROR_FILE_NOT_FOUND;
    if (!store->save())
        return ERROR_ACCESS_DENIED;
    mirrorAfterChange(k, *store, valueName);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (isRoot(key))
        return ERROR_SUCCESS;
    return g_open.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

DWORD GetShortPathNameA(const char* longPath, char* buffer, DWORD size)
{
    struct stat st {};
    if (!longPath || ::stat(longPath, &st) != 0)
        return 0;
    const std::size_t n = std::strlen(longPath);
    if (!buffer || size <= n)
        return DWORD(n + 1);
    std::memcpy(buffer, longPath, n + 1);
    return DWORD(n);
}

}  // namespace lt::registry
