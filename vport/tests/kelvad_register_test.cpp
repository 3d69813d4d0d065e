// Self-registration of the Kelvad module in a temporary registry store.
#include "kelvad_ctrl.h"
#include "kelvad_register.h"

#include "registry/registry.h"
#include "registry/server_registration.h"
#include "registry/tests/temp_registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

using namespace kelvad;
namespace reg = lt::registry;

namespace {

using KelvadRegisterTest = testsupport::TempRegistryTest;
using testsupport::classValue;

TEST_F(KelvadRegisterTest, RoundTripWritesAndRemovesTheControlAndItsPage)
{
    ASSERT_EQ(DllRegisterServer(), 0);
    const std::string control = std::string("CLSID\\") + kClassId;
    const std::string page = std::string("CLSID\\") + kPropPageId;
    EXPECT_EQ(classValue("KELVAD.KelvadCtrl.1"), "Virtual Serial Port Control");
    EXPECT_EQ(classValue("KELVAD.KelvadCtrl.1\\CLSID"), kClassId);
    EXPECT_EQ(classValue(control), "Virtual Serial Port Control");
    EXPECT_EQ(classValue(control + "\\ProgID"), "KELVAD.KelvadCtrl.1");
    const std::string module = classValue(control + "\\InprocServer32");
    EXPECT_NE(module.find("libkelvad.so"), std::string::npos) << module;
    EXPECT_EQ(classValue(control + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(classValue(control + "\\ToolboxBitmap32"), module + ", 1");
    EXPECT_EQ(classValue(control + "\\MiscStatus\\1"), "132241");  // 0x00020491
    EXPECT_FALSE(reg::classKeyExists(control + "\\Insertable"));
    EXPECT_EQ(classValue(control + "\\TypeLib"), kTypeLibId);
    EXPECT_EQ(classValue(control + "\\Version"), "1.0");
    EXPECT_EQ(classValue(std::string("TypeLib\\") + kTypeLibId + "\\1.0"), "KelvadLib");
    EXPECT_EQ(classValue(page), "Virtual Serial Port Property Page");
    EXPECT_EQ(classValue(page + "\\ProgID"), "KELVAD.KelvadPropPage.1");
    EXPECT_EQ(classValue("KELVAD.KelvadPropPage.1\\CLSID"), kPropPageId);

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
