// Self-registration of the Kelvad module in a temporary registry store.
#include "kelvad_ctrl.h"
#include "kelvad_register.h"

#include "registry/registry.h"
#include "registry/server_registration.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

using namespace kelvad;
namespace reg = lt::registry;

namespace {

std::string valueOf(const std::string& key, const std::string& name = "")
{
    reg::HKEY k = 0;
    if (reg::RegOpenKeyExA(reg::HKEY_CLASSES_ROOT, key, 0, reg::KEY_READ, &k) != reg::ERROR_SUCCESS)
        return "<no key>";
    unsigned char data[512] = {};
    reg::DWORD size = sizeof data, type = 0;
    const auto result = reg::RegQueryValueExA(k, name, &type, data, &size);
    reg::RegCloseKey(k);
    return result == reg::ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data)) : "<no value>";
}

class KelvadRegisterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LINTREL_REGISTRY_DIR", m_store.path().c_str(), 1);
        setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
    }
    testsupport::TempDir m_store, m_data;
};

TEST_F(KelvadRegisterTest, RoundTripWritesAndRemovesTheControlAndItsPage)
{
    ASSERT_EQ(DllRegisterServer(), 0);
    const std::string control = std::string("CLSID\\") + kClassId;
    const std::string page = std::string("CLSID\\") + kPropPageId;
    EXPECT_EQ(valueOf("KELVAD.KelvadCtrl.1"), "Virtual Serial Port Control");
    EXPECT_EQ(valueOf("KELVAD.KelvadCtrl.1\\CLSID"), kClassId);
    EXPECT_EQ(valueOf(control), "Virtual Serial Port Control");
    EXPECT_EQ(valueOf(control + "\\ProgID"), "KELVAD.KelvadCtrl.1");
    const std::string module = valueOf(control + "\\InprocServer32");
    EXPECT_NE(module.find("libkelvad.so"), std::string::npos) << module;
    EXPECT_EQ(valueOf(control + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(valueOf(control + "\\ToolboxBitmap32"), module + ", 1");
    EXPECT_EQ(valueOf(control + "\\MiscStatus\\1"), "132241");  // 0x00020491
    EXPECT_FALSE(reg::classKeyExists(control + "\\Insertable"));
    EXPECT_EQ(valueOf(control + "\\TypeLib"), kTypeLibId);
    EXPECT_EQ(valueOf(control + "\\Version"), "1.0");
    EXPECT_EQ(valueOf(std::string("TypeLib\\") + kTypeLibId + "\\1.0"), "KelvadLib");
    EXPECT_EQ(valueOf(page), "Virtual Serial Port Property Page");
    EXPECT_EQ(valueOf(page + "\\ProgID"), "KELVAD.KelvadPropPage.1");
    EXPECT_EQ(valueOf("KELVAD.KelvadPropPage.1\\CLSID"), kPropPageId);

    ASSERT_EQ(DllUnregisterServer(), 0);
    for (const std::string& key : {std::string("KELVAD.KelvadCtrl.1"), std::string("KELVAD.KelvadPropPage.1"), control,
                                  page, std::string("TypeLib\\") + kTypeLibId})
        EXPECT_FALSE(reg::classKeyExists(key)) << key;
    EXPECT_EQ(DllUnregisterServer(), std::int32_t(0x80040200u));
}

TEST_F(KelvadRegisterTest, ATypeLibraryThatCannotBeRegisteredStopsBeforeAnyClass)
{
    EXPECT_EQ(RegisterServer("/nonexistent/libkelvad.so"), std::int32_t(0x80040200u));
    EXPECT_FALSE(reg::classKeyExists(std::string("CLSID\\") + kClassId));
    EXPECT_FALSE(reg::classKeyExists("KELVAD.KelvadCtrl.1"));
    EXPECT_FALSE(reg::classKeyExists(std::string("TypeLib\\") + kTypeLibId));
}

TEST_F(KelvadRegisterTest, TheModuleCanUnloadOnlyWithNoControlAlive)
{
    EXPECT_EQ(DllCanUnloadNow(), 0);
    {
        CKelvadCtrl first;
        auto second = std::make_unique<CKelvadCtrl>();
        EXPECT_EQ(DllCanUnloadNow(), 1);
        second.reset();
        EXPECT_EQ(DllCanUnloadNow(), 1);
    }
    EXPECT_EQ(DllCanUnloadNow(), 0);
}

}  // namespace
