// For tests of a module's self-registration: a registry store (and a
// desktop data folder for its mirror) that lives in temporary folders for
// the test's life, and reading a value back below HKEY_CLASSES_ROOT.
#pragma once

#include "registry/registry.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace testsupport {

class TempRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LINTREL_REGISTRY_DIR", m_store.path().c_str(), 1);
        setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
    }
    TempDir m_store, m_data;
};

// The string value, or "<no key>" / "<no value>".
inline std::string classValue(const std::string& key, const std::string& name = "")
{
    namespace reg = lt::registry;
    reg::HKEY k = 0;
    if (reg::RegOpenKeyExA(reg::HKEY_CLASSES_ROOT, key, 0, reg::KEY_READ, &k) != reg::ERROR_SUCCESS)
        return "<no key>";
    unsigned char data[512] = {};
    reg::DWORD size = sizeof data, type = 0;
    const auto result = reg::RegQueryValueExA(k, name, &type, data, &size);
    reg::RegCloseKey(k);
    return result == reg::ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data)) : "<no value>";
}

}  // namespace testsupport
