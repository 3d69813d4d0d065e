// Self-registration of the communications control's module in a temporary
// registry store.
#include "qel_comm_register.h"

#include "registry/registry.h"
#include "registry/server_registration.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

using namespace qelcomm::control;
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

class RegisterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LINTREL_REGISTRY_DIR", m_store.path().c_str(), 1);
        setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
    }
    testsupport::TempDir m_store, m_data;
};

TEST_F(RegisterTest, RegisterWritesTheClassProgIdsPagesAndTypeLibraryAndUnregisterRemovesThem)
{
    // Something else's entries, one with a name that starts like ours.
    ASSERT_TRUE(reg::writeClassEntries({{".qcf", "", "Lintrel.Configuration"},
                                        {std::string("CLSID\\") + kClassId + "x", "", "neighbour"}}));

    ASSERT_EQ(DllRegisterServer(), 0);
    const std::string clsid = std::string("CLSID\\") + kClassId;
    EXPECT_EQ(valueOf("Qel.CommControl.1"), "Qel Comm 6 Control");
    EXPECT_EQ(valueOf("Qel.CommControl.1\\CLSID"), kClassId);
    EXPECT_EQ(valueOf("Qel.CommControl\\CurVer"), "Qel.CommControl.1");
    EXPECT_EQ(valueOf("Qel.CommControl\\CLSID"), kClassId);
    EXPECT_EQ(valueOf(clsid), "Qel Comm 6 Control");
    EXPECT_EQ(valueOf(clsid + "\\ProgID"), "Qel.CommControl.1");
    EXPECT_EQ(valueOf(clsid + "\\VersionIndependentProgID"), "Qel.CommControl");
    EXPECT_EQ(valueOf(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
    const std::string module = valueOf(clsid + "\\InprocServer32");
    EXPECT_NE(module.find("libqelcomm6_control.so"), std::string::npos) << module;
    for (const char* key : {"Programmable", "Control", "Insertable"})
        EXPECT_TRUE(reg::classKeyExists(clsid + "\\" + key)) << key;
    EXPECT_EQ(valueOf(clsid + "\\ToolboxBitmap32"), module + ", 101");
    EXPECT_EQ(valueOf(clsid + "\\MiscStatus"), "0");
    EXPECT_EQ(valueOf(clsid + "\\MiscStatus\\1"), "131473");
    EXPECT_EQ(valueOf(clsid + "\\Verb\\0"), "&Properties...,0,2");
    EXPECT_EQ(valueOf(clsid + "\\TypeLib"), kTypeLibId);
    EXPECT_EQ(valueOf(clsid + "\\Version"), "1.0");
    EXPECT_EQ(valueOf(std::string("TypeLib\\") + kTypeLibId + "\\1.0\\0\\linux"), module);
    for (const char* page : {kCommunicationsPageId, kCommSpyPageId, kTerminalPageId, kAboutPageId}) {
        EXPECT_EQ(valueOf(std::string("CLSID\\") + page + "\\InprocServer32"), module) << page;
        EXPECT_EQ(valueOf(std::string("CLSID\\") + page + "\\InprocServer32", "ThreadingModel"), "Apartment");
    }
    // Registering again rewrites the same entries.
    EXPECT_EQ(DllRegisterServer(), 0);
    EXPECT_EQ(valueOf(clsid + "\\MiscStatus\\1"), "131473");

    ASSERT_EQ(DllUnregisterServer(), 0);
    for (const std::string& key : {std::string("Qel.CommControl.1"), std::string("Qel.CommControl"), clsid,
                                  std::string("TypeLib\\") + kTypeLibId, std::string("CLSID\\") + kAboutPageId})
        EXPECT_FALSE(reg::classKeyExists(key)) << key;
    EXPECT_EQ(valueOf(".qcf"), "Lintrel.Configuration");
    EXPECT_EQ(valueOf(clsid + "x"), "neighbour");
    // Nothing left to unregister: the type library step fails.
    EXPECT_EQ(DllUnregisterServer(), std::int32_t(0x80040200u));
}

TEST_F(RegisterTest, AModuleWithoutItsTypeLibraryRegistersNoClass)
{
    EXPECT_EQ(RegisterServer("/nonexistent/libqelcomm6_control.so"), std::int32_t(0x80040200u));
    EXPECT_FALSE(reg::classKeyExists(std::string("CLSID\\") + kClassId));
    EXPECT_FALSE(reg::classKeyExists("Qel.CommControl.1"));
}

TEST_F(RegisterTest, TheModuleCanUnloadOnlyWithNoControlAlive)
{
    EXPECT_EQ(DllCanUnloadNow(), 0);
    {
        CQelComm first;
        auto second = std::make_unique<CQelComm>();
        EXPECT_EQ(DllCanUnloadNow(), 1);
        second.reset();
        EXPECT_EQ(DllCanUnloadNow(), 1);
    }
    EXPECT_EQ(DllCanUnloadNow(), 0);
}

}  // namespace
