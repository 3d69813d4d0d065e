// File association and the logon entry through the registry stand-in, in
// temporary registry and XDG folders; the configuration file's mode.
#include "config_file.h"
#include "global_options.h"
#include "headless.h"
#include "registration.h"

#include "registry/desktop_mirror.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace lintrel;
using namespace lt::registry;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

unsigned modeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 0777) : 0u;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("LINTREL_REGISTRY_DIR", dir.file("registry").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
        ::setenv("LINTREL_HOME", dir.path().c_str(), 1);
        GlobalOptions = {};
    }
    std::string command() const
    {
        return ReadRegistryString(HKEY_CLASSES_ROOT, "Lintrel.Configuration\\shell\\open\\command", "", "?");
    }
    testsupport::TempDir dir;
    std::ostringstream out, err;
};

}  // namespace

TEST_F(Registration, TheAssociationIsWrittenMirroredAndRewrittenForANewLocation)
{
    EnsureFileAssociation("Lintrel.Configuration", ".qcf");
    const std::string program = ProgramPath();
    EXPECT_EQ(command(), program + " %1");
    EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, "Lintrel.Configuration\\DefaultIcon", "", "?"),
              program + ",-1");
    EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, ".qcf", "", "?"), "Lintrel.Configuration");
    EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, ".qcf", "missing", "dflt"), "dflt");

    const std::string entry = readFile(dir.file("data/applications/lintrel.desktop"));
    EXPECT_NE(entry.find("Exec=" + program + " %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("MimeType=application/x-lintrel-configuration;"), std::string::npos);
    EXPECT_NE(readFile(dir.file("data/mime/packages/lintrel-configuration.xml")).find("*.qcf"),
              std::string::npos);
    const std::string icon = dir.file("data/icons/hicolor/scalable/apps/registration_tests.svg");
    EXPECT_NE(readFile(icon).find("<svg"), std::string::npos);
    for (const char* size : {"16x16", "48x48", "256x256"})
        EXPECT_EQ(readFile(dir.file(std::string("data/icons/hicolor/") + size + "/apps/registration_tests.png"))
                      .substr(1, 3), "PNG") << size;
    EXPECT_NE(entry.find("Icon=registration_tests\n"), std::string::npos);

    // As if the program had been elsewhere at the last start.
    HKEY h = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Lintrel.Configuration\\shell\\open\\command",
                              KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    const std::string old = "/old/place/lintrel %1";
    RegSetValueExA(h, "", REG_SZ, reinterpret_cast<const unsigned char*>(old.data()), DWORD(old.size()));
    RegCloseKey(h);
    EXPECT_NE(readFile(dir.file("data/applications/lintrel.desktop")).find("Exec=/old/place/lintrel %f"),
              std::string::npos);
    EnsureFileAssociation("Lintrel.Configuration", ".qcf");
    EXPECT_EQ(command(), program + " %1");
    EXPECT_NE(readFile(dir.file("data/applications/lintrel.desktop")).find("Exec=" + program + " %f\n"),
              std::string::npos);
}

TEST_F(Registration, TheLogonEntryIsQuotedAndFollowsTheOptionAtSave)
{
    const std::string autostart = dir.file("config/autostart/lintrel.desktop");
    EXPECT_TRUE(SetStartEntry(true, "Lintrel", "/opt/my apps/lintrel", true, false));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kRunOnceKey, "Lintrel", ""), "\"/opt/my apps/lintrel\"");
    EXPECT_NE(readFile(autostart).find("\"/opt/my apps/lintrel\""), std::string::npos);
    EXPECT_TRUE(SetStartEntry(false, "Lintrel", "/opt/my apps/lintrel", true, false));
    EXPECT_FALSE(exists(autostart));
    EXPECT_TRUE(SetStartEntry(false, "Lintrel", "/opt/my apps/lintrel", true, false));   // already gone

    HeadlessRunner runner(out, err);
    runner.start(dir.file("none.qcf"));
    GlobalOptions.LoadWithWindows = true;
    EXPECT_FALSE(exists(autostart));   // the option alone writes nothing
    writeprofilesettings(runner, "");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kRunOnceKey, "Lintrel", ""), "\"" + ProgramPath() + "\"");
    EXPECT_NE(readFile(autostart).find("LT_RUNONCE_VALUE=Lintrel"), std::string::npos);

    // Started from the entry: it is used up until the next save.
    ::setenv(kRunOnceVariable, "Lintrel", 1);
    lintrel::takeRunOnceStart();
    EXPECT_FALSE(exists(autostart));
    writeprofilesettings(runner, "");
    EXPECT_TRUE(exists(autostart));
    GlobalOptions.LoadWithWindows = false;
    writeprofilesettings(runner, "");
    EXPECT_FALSE(exists(autostart));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, kRunOnceKey, "Lintrel", "absent"), "absent");
}

TEST_F(Registration, ConfigurationFilesAreTheOwnersOnly)
{
    HeadlessRunner runner(out, err);
    runner.start(dir.file("none.qcf"));
    GlobalOptions.Password = "Secret";
    const std::string fresh = dir.file("fresh.qcf");
    writeprofilesettings(runner, fresh);
    EXPECT_EQ(modeOf(fresh), 0600u);
    EXPECT_NE(readFile(fresh).find("Password=Secret\r\n"), std::string::npos);   // the stored format stays

    const std::string old = dir.file("old.qcf");
    std::ofstream(old) << "[Lintrel]\r\nNumSessions=0\r\n";
    ::chmod(old.c_str(), 0644);
    writeprofilesettings(runner, old);
    EXPECT_EQ(modeOf(old), 0600u);
    writeprofilesettings(runner, "");
    EXPECT_EQ(modeOf(defaultConfigFile()), 0600u);
    EXPECT_EQ(out.str().find("Secret"), std::string::npos);
    EXPECT_EQ(err.str().find("Secret"), std::string::npos);
}
