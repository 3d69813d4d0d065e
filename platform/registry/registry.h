// The registry calls the program makes (open, create, query, set, delete a
// value, close), over one file-backed store per root, with Windows results.
//
// Stores live in $LINTREL_REGISTRY_DIR, else $XDG_CONFIG_HOME/lintrel/registry
// (~/.config/lintrel/registry), one file per root, readable by the owner
// only.  Key paths use "\" and match without regard to letter case.  Every
// call reads the store afresh and every change rewrites it at once, so two
// processes see each other's changes.
//
// Two kinds of keys are mirrored into the desktop (desktop_mirror.h): file
// types under the classes root, and the logon start values of the current
// user's Run and RunOnce keys.
#pragma once

#include <cstdint>
#include <string>

namespace lt::registry {

using HKEY = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using REGSAM = std::uint32_t;

constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;

constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Opens an existing key below key (a root or an open key); an empty subKey
// opens key itself again.  ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyExA(HKEY key, const std::string& subKey, DWORD options, REGSAM access, HKEY* result);

// Opens the key, creating it and any missing parents.  ERROR_ACCESS_DENIED
// when the store cannot be written.
LONG RegCreateKeyExA(HKEY key, const std::string& subKey, REGSAM access, HKEY* result);

// Reads a value (empty name: the key's default value).  With data null
// only type and size come back; a buffer smaller than the value gives
// ERROR_MORE_DATA with *size set to what is needed.  String values come
// back with a terminating NUL, counted in *size.
LONG RegQueryValueExA(HKEY key, const std::string& valueName, DWORD* type, unsigned char* data,
                      DWORD* size);

// Writes a value of size bytes.  A string keeps its bytes up to the first
// NUL, whether or not the size counts a terminator.  Needs KEY_SET_VALUE.
LONG RegSetValueExA(HKEY key, const std::string& valueName, DWORD type, const unsigned char* data,
                    DWORD size);

// Removes a value; ERROR_FILE_NOT_FOUND when it is not there.
LONG RegDeleteValueA(HKEY key, const std::string& valueName);

// Removes subKey below key with everything below it (RegDeleteTree);
// ERROR_FILE_NOT_FOUND when it is not there.  Needs write access.
LONG RegDeleteTreeA(HKEY key, const std::string& subKey);

LONG RegCloseKey(HKEY key);

// Short (8.3) names do not exist here: the path comes back as it is.  The
// length copied (without NUL), the size needed when buffer is too small,
// 0 when the file does not exist.
DWORD GetShortPathNameA(const char* longPath, char* buffer, DWORD size);

// Folder of the stores.
std::string storeFolder();

}  // namespace lt::registry
