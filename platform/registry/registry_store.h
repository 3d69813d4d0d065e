// The file behind one registry root: keys in the order they were created,
// each with its values.  Shared by the registry calls and the desktop
// mirror; not for callers.
#pragma once

#include "registry/registry.h"

#include <optional>
#include <string>
#include <vector>

namespace lt::registry {

struct StoredValue {
    std::string name;   // empty: the key's default value
    DWORD type = REG_SZ;
    std::string data;   // the bytes; strings without a terminator
};

struct StoredKey {
    std::string path;   // "A\B\C", as first written
    std::vector<StoredValue> values;
    const StoredValue* value(const std::string& name) const;
};

class Store {
public:
    // The root's file as it stands; an unknown root gives nullopt.
    static std::optional<Store> load(HKEY root);
    // Rewrites the file (owner-only), replacing it in one step.
    bool save() const;

    StoredKey* find(const std::string& path);
    const StoredKey* find(const std::string& path) const;
    StoredKey& create(const std::string& path);   // with its missing parents
    // Removes the key and every key below it; the number of keys removed.
    std::size_t removeTree(const std::string& path);
    const std::vector<StoredKey>& keys() const { return m_keys; }

private:
    std::string m_file;
    std::vector<StoredKey> m_keys;
};

// "\A\\B\" -> "A\B": parts joined by one backslash.
std::string normalizePath(const std::string& path);
// Key and value names match without regard to letter case.
bool sameName(const std::string& a, const std::string& b);
// parent + "\" + child, either may be empty.
std::string joinPath(const std::string& parent, const std::string& child);

// Store files: text, one "[key]" line per key and one line per value.
std::string escapeText(const std::string& bytes);
std::string unescapeText(const std::string& text);

}  // namespace lt::registry
