// Private-profile (INI) files with the semantics of the Windows functions
// GetPrivateProfileString, GetPrivateProfileInt and WritePrivateProfileString.
//
// Section and key names match without regard to letter case; spaces around
// names and values are ignored; one pair of single or double quotes enclosing
// a whole value is removed on reading. Writing replaces a key's line where it
// stands, adds a new key after the last non-blank line of its section and a
// new section at the end of the file, with CR LF line ends; every other byte
// of the file is kept. A file that does not exist reads as empty and is
// created on the first write. A relative file name is taken relative to the
// current directory. A UTF-8 byte-order mark at the start of the file is no
// part of the first line and stays in place when the file is rewritten.
#pragma once

#include <cstdint>
#include <string>

namespace profile {

// Each call reads the whole file, so reading a file of many keys key by key
// costs the square of its size.  While a ReadScope lives, reads on its
// thread parse each file once and take later keys from that copy; a write
// through these functions refreshes it.  Changes other processes make
// meanwhile are not seen, so keep a scope to one load.
class ReadScope {
public:
    ReadScope();
    ~ReadScope();
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

private:
    bool m_outermost;
};

// Copies the value (or the default when the key or file is missing) into
// buffer, at most size-1 characters plus a terminating NUL, and returns the
// number of characters copied.
std::uint32_t getPrivateProfileString(const std::string& section, const std::string& key,
                                      const std::string& defaultValue, char* buffer,
                                      std::uint32_t size, const std::string& file);

// The same through a buffer of `size` characters, returned as a string.
std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& file,
                                    std::uint32_t size = 200);

// Reads the leading decimal digits of the value; a value that starts with
// anything else (a sign included) gives 0, a missing key gives defaultValue.
int getPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& file);

// Writes key=value into the section. False when the file cannot be written,
// or when a name is empty or any text holds a line break (which would change
// the file's structure), or the key holds '=' or the section ']'.
bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file);

}  // namespace profile
