// Self-registration of the communications control's module in a temporary
// registry store.
#include "qel_comm_register.h"

#include "registry/registry.h"
#include "registry/server_registration.h"
#include "registry/tests/temp_registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

using namespace qelcomm::control;
namespace reg = lt::registry;

namespace {

using RegisterTest = testsupport::TempRegistryTest;
using testsupport::classValue;

TEST_F(RegisterTest, RegisterWritesTheClassProgIdsPagesAndTypeLibraryAndUnregisterRemovesThem)
{
    // Something else's entries, one with a name that starts like ours.
    ASSERT_TRUE(reg::writeClassEntries({{".qcf", "", "Lintrel.Configuration"},
                                        {std::string("CLSID\\") + kClassId + "x", "", "neighbour"}}));

    ASSERT_EQ(DllRegisterServer(), 0);
    const std::string clsid = std::string("CLSID\\") + kClassId;
    EXPECT_EQ(classValue("Qel.CommControl.1"), "Qel Comm 6 Control");
    EXPECT_EQ(classValue("Qel.CommControl.1\\CLSID"), kClassId);
    EXPECT_EQ(classValue("Qel.CommControl\\CurVer"), "Qel.CommControl.1");
    EXPECT_EQ(classValue("Qel.CommControl\\CLSID"), kClassId);
    EXPECT_EQ(classValue(clsid), "Qel Comm 6 Control");
    EXPECT_EQ(classValue(clsid + "\\ProgID"), "Qel.CommControl.1");
    EXPECT_EQ(classValue(clsid + "\\VersionIndependentProgID"), "Qel.CommControl");
    EXPECT_EQ(classValue(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
    const std::string module = classValue(clsid + "\\InprocServer32");
    EXPECT_NE(module.find("libqelcomm6_control.so"), std::string::npos) << module;
    for (const char* key : {"Programmable", "Control", "Insertable"})
        EXPECT_TRUE(reg::classKeyExists(clsid + "\\" + key)) << key;
    EXPECT_EQ(classValue(clsid + "\\ToolboxBitmap32"), module + ", 101");
    EXPECT_EQ(classValue(clsid + "\\MiscStatus"), "0");
    EXPECT_EQ(classValue(clsid + "\\MiscStatus\\1"), "131473");
    EXPECT_EQ(classValue(clsid + "\\Verb\\0"), "&Properties...,0,2");
    EXPECT_EQ(classValue(clsid + "\\TypeLib"), kTypeLibId);
    EXPECT_EQ(classValue(clsid + "\\Version"), "1.0");
    EXPECT_EQ(classValue(std::string("TypeLib\\") + kTypeLibId + "\\1.0\\0\\linux"), module);
    for (const char* page : {kCommunicationsPageId, kCommSpyPageId, kTerminalPageId, kAboutPageId}) {
        EXPECT_EQ(classValue(std::string("CLSID\\") + page + "\\InprocServer32"), module) << page;
        EXPECT_EQ(classValue(std::string("CLSID\\") + page + "\\InprocServer32", "ThreadingModel"), "Apartment");
    }
    // Registering again rewrites the same entries.
    EXPECT_EQ(DllRegisterServer(), 0);
    EXPECT_EQ(classValue(clsid + "\\MiscStatus\\1"), "131473");

    ASSERT_EQ(DllUnregisterServer(), 0);
    for (const std::string& key : {std::string("Qel.CommControl.1"), std::string("Qel.CommControl"), clsid,
                                  std::string("TypeLib\\") + kTypeLibId, std::string("CLSID\\") + kAboutPageId})
        EXPECT_FALSE(reg::classKeyExists(key)) << key;
    EXPECT_EQ(classValue(".qcf"), "Lintrel.Configuration");
    EXPECT_EQ(classValue(clsid + "x"), "neighbour");
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
