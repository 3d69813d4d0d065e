// Self-registration of an in-process control module: the class entries it
// writes under the classes root of the registry stand-in, and their
// removal. Each control lists its entries as a table and hands it here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lt::registry {

using HRESULT = std::int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT SELFREG_E_TYPELIB = HRESULT(0x80040200u);
constexpr HRESULT SELFREG_E_CLASS = HRESULT(0x80040201u);

// One entry below HKEY_CLASSES_ROOT: a string value, or (no value) a key
// that only has to exist, like "Control" or "Programmable".
struct ClassEntry {
    std::string key;
    std::string name;  // empty: the key's default value
    std::optional<std::string> value;
};

// Writes the entries in order; false at the first one that cannot be
// written.
bool writeClassEntries(const std::vector<ClassEntry>& entries);
// Removes each key with everything below it; a key that is not there is
// skipped. False when one cannot be removed.
bool removeClassKeys(const std::vector<std::string>& keys);
// True when the key exists below HKEY_CLASSES_ROOT.
bool classKeyExists(const std::string& key);

// The file of the shared object (or program) that holds address; empty
// when it cannot be told.
std::string moduleFileOf(const void* address);

// A type library described by a module: its entries under
// TypeLib\{guid}\<version>. Registering fails when the module file (the
// holder of the type library) cannot be read.
bool registerTypeLibrary(const std::string& guid, const std::string& version, const std::string& name,
                         const std::string& moduleFile);
// Removes that version; false when it was not registered.
bool unregisterTypeLibrary(const std::string& guid, const std::string& version);

// A whole module's registration with its result code: the type library
// first (SELFREG_E_TYPELIB), then the class entries (SELFREG_E_CLASS).
HRESULT registerServer(const std::string& typeLibId, const std::string& typeLibName, const std::string& moduleFile,
                       const std::vector<ClassEntry>& entries);
HRESULT unregisterServer(const std::string& typeLibId, const std::vector<std::string>& classKeys);

}  // namespace lt::registry
