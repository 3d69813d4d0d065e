// The registry stand-in against its own store files and the desktop files
// it mirrors, all in temporary folders.
#include "registry/desktop_mirror.h"
#include "registry/registry.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

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

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("LINTREL_REGISTRY_DIR", store.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        ::unsetenv(kRunOnceVariable);
    }
    static void setString(HKEY root, const std::string& key, const std::string& name,
                          const std::string& value)
    {
        HKEY h = 0;
        ASSERT_EQ(RegCreateKeyExA(root, key, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(h, name, REG_SZ, reinterpret_cast<const unsigned char*>(value.data()),
                                 DWORD(value.size())),
                  ERROR_SUCCESS);
        RegCloseKey(h);
    }
    static std::string getString(HKEY root, const std::string& key, const std::string& name)
    {
        HKEY h = 0;
        if (RegOpenKeyExA(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
            return "<no key>";
        unsigned char buf[256] = {};
        DWORD size = sizeof buf, type = 0;
        const LONG r = RegQueryValueExA(h, name, &type, buf, &size);
        RegCloseKey(h);
        if (r != ERROR_SUCCESS)
            return "<no value>";
        return std::string(reinterpret_cast<char*>(buf));
    }
    testsupport::TempDir store, data, config;
};

}  // namespace

TEST_F(Registry, ValuesSurviveTheStoreWithAnyBytesAndMatchInAnyCase)
{
    const std::string awkward = "a\\b \"q\" [x] ]\r\n\tend";
    setString(HKEY_CURRENT_USER, "Software\\Test\\Deep", "Name", awkward);
    setString(HKEY_CURRENT_USER, "Software\\Test\\Deep", "", "default");
    EXPECT_EQ(getString(HKEY_CURRENT_USER, "software\\TEST\\deep", "nAME"), awkward);
    EXPECT_EQ(getString(HKEY_CURRENT_USER, "\\Software\\Test\\Deep\\", ""), "default");
    EXPECT_EQ(getString(HKEY_CURRENT_USER, "Software\\Test", "Name"), "<no value>");   // parents exist
    EXPECT_EQ(getString(HKEY_LOCAL_MACHINE, "Software\\Test\\Deep", "Name"), "<no key>");

    // Strings come back terminated; a short buffer asks for more.
    HKEY h = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test\\Deep", 0, KEY_READ, &h), ERROR_SUCCESS);
    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExA(h, "", &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);
    unsigned char small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(h, "", &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    // A key opened for reading cannot change anything.
    EXPECT_EQ(RegSetValueExA(h, "x", REG_SZ, reinterpret_cast<const unsigned char*>("y"), 1),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(h, "Name"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test\\Deep", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(h, "NAME"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(h, "Name"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(h);
    EXPECT_EQ(getString(HKEY_CURRENT_USER, "Software\\Test\\Deep", "Name"), "<no value>");

    struct stat st {};
    ASSERT_EQ(::stat((store.path() + "/HKEY_CURRENT_USER.reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Registry, AFileTypeBecomesAMimeTypeADesktopEntryAndTheDefaultApplication)
{
    const std::string program = data.file("my apps/lintrel");
    ::mkdir(data.file("my apps").c_str(), 0700);
    std::ofstream(program) << "#!/bin/sh\n";
    std::ofstream(config.file("mimeapps.list")) << "[Default Applications]\ntext/plain=editor.desktop\n\n[Added Associations]\nx/y=z.desktop\n";

    setString(HKEY_CLASSES_ROOT, "Lintrel.Configuration\\shell\\open\\command", "", program + " %1");
    setString(HKEY_CLASSES_ROOT, "Lintrel.Configuration\\DefaultIcon", "", program + ",-1");
    setString(HKEY_CLASSES_ROOT, ".qcf", "", "Lintrel.Configuration");

    const std::string entry = readFile(data.file("applications/lintrel.desktop"));
    EXPECT_NE(entry.find("Exec=\"" + program + "\" %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Icon=lintrel\n"), std::string::npos);
    EXPECT_NE(entry.find("MimeType=application/x-lintrel-configuration;\n"), std::string::npos);
    const std::string package = readFile(data.file("mime/packages/lintrel-configuration.xml"));
    EXPECT_NE(package.find("type=\"application/x-lintrel-configuration\""), std::string::npos);
    EXPECT_NE(package.find("<glob pattern=\"*.qcf\"/>"), std::string::npos);
    EXPECT_EQ(readFile(config.file("mimeapps.list")),
              "[Default Applications]\ntext/plain=editor.desktop\n"
              "application/x-lintrel-configuration=lintrel.desktop\n\n[Added Associations]\nx/y=z.desktop\n");
    if (exists("/usr/bin/update-mime-database")) {
        EXPECT_NE(readFile(data.file("mime/globs2")).find("application/x-lintrel-configuration:*.qcf"),
                  std::string::npos);
    }

    // A new program location rewrites the entry; the default stays single.
    const std::string moved = data.file("lintrel2");
    std::ofstream(moved) << "#!/bin/sh\n";
    setString(HKEY_CLASSES_ROOT, "Lintrel.Configuration\\shell\\open\\command", "", moved + " %1");
    EXPECT_NE(readFile(data.file("applications/lintrel.desktop")).find("Exec=" + moved + " %f\n"),
              std::string::npos);
    const std::string list = readFile(config.file("mimeapps.list"));
    EXPECT_EQ(list.find("application/x-lintrel-configuration="),
              list.rfind("application/x-lintrel-configuration="));
}

TEST_F(Registry, StartValuesFollowIntoAutostartAndARunOnceStartRemovesItsValue)
{
    const std::string file = config.file("autostart/lintrel.desktop");
    setString(HKEY_CURRENT_USER, kRunOnceKey, "Lintrel", "\"/opt/the app/lintrel\"");
    const std::string entry = readFile(file);
    EXPECT_NE(entry.find("Exec=env LT_RUNONCE_VALUE=Lintrel \"/opt/the app/lintrel\"\n"),
              std::string::npos) << entry;

    // Started from it: the value and its entry go, the variable is cleared.
    ::setenv(kRunOnceVariable, "Lintrel", 1);
    EXPECT_TRUE(takeRunOnceStart());
    EXPECT_EQ(std::getenv(kRunOnceVariable), nullptr);
    EXPECT_EQ(getString(HKEY_CURRENT_USER, kRunOnceKey, "Lintrel"), "<no value>");
    EXPECT_FALSE(exists(file));
    EXPECT_FALSE(takeRunOnceStart());

    // A persistent value starts the program as it is; a file of the user's
    // own under the same name is never removed.
    setString(HKEY_CURRENT_USER, kRunKey, "Lintrel", "/usr/bin/lintrel");
    EXPECT_NE(readFile(file).find("Exec=/usr/bin/lintrel\n"), std::string::npos);
    HKEY h = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    std::ofstream(file) << "[Desktop Entry]\nExec=mine\n";
    EXPECT_EQ(RegDeleteValueA(h, "Lintrel"), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_TRUE(exists(file));
}

TEST(DesktopExec, QuotesAndEscapesArguments)
{
    EXPECT_EQ(desktopExec({"/usr/bin/a", "%f"}), "/usr/bin/a %f");
    EXPECT_EQ(desktopExec({"/x y/a", "50%", "$HOME", "back\\slash", "\"q\"", ""}),
              "\"/x y/a\" 50%% \"\\$HOME\" \"back\\\\slash\" \"\\\"q\\\"\" \"\"");
    EXPECT_EQ(splitCommandLine("\"C:\\a b\\c.exe\" -x  \"two words\" say\\\"hi"),
              (std::vector<std::string>{"C:\\a b\\c.exe", "-x", "two words", "say\"hi"}));
}
