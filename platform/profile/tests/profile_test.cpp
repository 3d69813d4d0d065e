#include "profile/profile.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace profile;

namespace {

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class ProfileTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string path = dir.file("test.qcf");
};

}  // namespace

TEST_F(ProfileTest, ReadsValuesAsTheWindowsFunctionsDo)
{
    writeFile(path,
              "; a comment\r\n"
              "[Lintrel]\r\n"
              "NumSessions=2\r\n"
              "  Password =  secret word  \r\n"
              "Quoted=\"  kept inside  \"\r\n"
              "Single='x'\r\n"
              "HalfQuote=\"open\r\n"
              "Empty=\r\n"
              "[ Session1 ]\r\n"
              "BaudRate=6\r\n");
    struct Case {
        const char *section, *key, *expected;
    } cases[] = {
        {"Lintrel", "NumSessions", "2"},
        {"LINTREL", "numsessions", "2"},
        {"Lintrel", "Password", "secret word"},
        {"Lintrel", "Quoted", "  kept inside  "},
        {"Lintrel", "Single", "x"},
        {"Lintrel", "HalfQuote", "\"open"},
        {"Lintrel", "Empty", ""},
        {"session1", "BaudRate", "6"},
        {"Session1", "NumSessions", "dflt"},  // keys belong to their section
        {"Session2", "BaudRate", "dflt"},
        {"Lintrel", "Missing", "dflt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(getPrivateProfileString(c.section, c.key, "dflt", path), c.expected)
            << c.section << "/" << c.key;
    EXPECT_EQ(getPrivateProfileString("Lintrel", "x", "d", dir.file("none.qcf")), "d");
}

TEST_F(ProfileTest, TextIsCutToTheBuffer)
{
    const std::string longValue(300, 'a');
    writeFile(path, "[S]\nK=" + longValue + "\n");
    EXPECT_EQ(getPrivateProfileString("S", "K", "", path).size(), 199u);
    char buf[4];
    EXPECT_EQ(getPrivateProfileString("S", "K", "", buf, sizeof buf, path), 3u);
    EXPECT_STREQ(buf, "aaa");
    EXPECT_EQ(getPrivateProfileString("S", "None", "default", buf, sizeof buf, path), 3u);
    EXPECT_STREQ(buf, "def");
}

TEST_F(ProfileTest, IntegerReader)
{
    writeFile(path, "[S]\nA=150\nB=150.7\nC=abc\nD=-12x\nE=\nI=+5\nJ=007\nF= 42 \nG=\"7\"\nH=0x10");
    EXPECT_EQ(getPrivateProfileInt("S", "A", 9, path), 150);
    EXPECT_EQ(getPrivateProfileInt("S", "B", 9, path), 150);
    EXPECT_EQ(getPrivateProfileInt("S", "C", 9, path), 0);
    EXPECT_EQ(getPrivateProfileInt("S", "D", 9, path), 0);   // a sign is not a digit
    EXPECT_EQ(getPrivateProfileInt("S", "I", 9, path), 0);
    EXPECT_EQ(getPrivateProfileInt("S", "J", 9, path), 7);
    EXPECT_EQ(getPrivateProfileInt("S", "E", 9, path), 0);
    EXPECT_EQ(getPrivateProfileInt("S", "F", 9, path), 42);
    EXPECT_EQ(getPrivateProfileInt("S", "G", 9, path), 7);
    EXPECT_EQ(getPrivateProfileInt("S", "H", 9, path), 0);  // last line, no newline
    EXPECT_EQ(getPrivateProfileInt("S", "Missing", 9, path), 9);
}

TEST_F(ProfileTest, ReplacingAKeyKeepsEveryOtherByte)
{
    const std::string before = "; keep me\r\n[Lintrel]\r\nNumSessions=1\r\nodd line\r\n\r\n"
                               "[Session1]\nbaudrate=3\nParity=0";
    writeFile(path, before);
    ASSERT_TRUE(writePrivateProfileString("Lintrel", "NumSessions", "12", path));
    ASSERT_TRUE(writePrivateProfileString("SESSION1", "BaudRate", "6", path));
    ASSERT_TRUE(writePrivateProfileString("Session1", "Parity", "2", path));
    EXPECT_EQ(readFile(path), "; keep me\r\n[Lintrel]\r\nNumSessions=12\r\nodd line\r\n\r\n"
                              "[Session1]\nBaudRate=6\nParity=2");
    // Writing the same values again changes nothing.
    const std::string written = readFile(path);
    ASSERT_TRUE(writePrivateProfileString("Lintrel", "NumSessions", "12", path));
    EXPECT_EQ(readFile(path), written);
}

TEST_F(ProfileTest, NewKeysAndSectionsGoWhereWindowsPutsThem)
{
    writeFile(path, "[A]\r\nx=1\r\n\r\n[B]\r\ny=2");
    ASSERT_TRUE(writePrivateProfileString("a", "z", "3", path));
    ASSERT_TRUE(writePrivateProfileString("B", "w", "4", path));
    ASSERT_TRUE(writePrivateProfileString("C", "v", " spaced ", path));
    EXPECT_EQ(readFile(path),
              "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\nw=4\r\n[C]\r\nv= spaced \r\n");
    EXPECT_EQ(getPrivateProfileString("C", "V", "", path), "spaced");
}

TEST_F(ProfileTest, MissingFileIsCreatedAndBadWritesFail)
{
    const std::string fresh = dir.file("new.qcf");
    ASSERT_TRUE(writePrivateProfileString("Lintrel", "PacketSize", "2000", fresh));
    EXPECT_EQ(readFile(fresh), "[Lintrel]\r\nPacketSize=2000\r\n");

    EXPECT_FALSE(writePrivateProfileString("S", "K", "v", dir.file("no/such/dir.qcf")));
    EXPECT_FALSE(writePrivateProfileString("S", "K", "v", dir.path()));  // a folder
    EXPECT_FALSE(writePrivateProfileString("S", "K", "two\r\nlines", fresh));
    EXPECT_FALSE(writePrivateProfileString("S", "K=", "v", fresh));
    EXPECT_FALSE(writePrivateProfileString("", "K", "v", fresh));
    EXPECT_EQ(readFile(fresh), "[Lintrel]\r\nPacketSize=2000\r\n");

    if (geteuid() != 0) {  // root writes through permissions
        chmod(fresh.c_str(), 0444);
        EXPECT_FALSE(writePrivateProfileString("Lintrel", "PacketSize", "1", fresh));
        EXPECT_EQ(getPrivateProfileInt("Lintrel", "PacketSize", 0, fresh), 2000);
    }
}

// Editors on other systems start UTF-8 files with a byte-order mark: it
// belongs to no line, and a rewrite keeps it.
TEST_F(ProfileTest, AByteOrderMarkIsSkippedAndKept)
{
    writeFile(path, "\xEF\xBB\xBF[Lintrel]\r\nNumSessions=2\r\n");
    EXPECT_EQ(getPrivateProfileInt("Lintrel", "NumSessions", 0, path), 2);
    ASSERT_TRUE(writePrivateProfileString("Lintrel", "NumSessions", "3", path));
    ASSERT_TRUE(writePrivateProfileString("Lintrel", "PacketSize", "10", path));
    EXPECT_EQ(readFile(path), "\xEF\xBB\xBF[Lintrel]\r\nNumSessions=3\r\nPacketSize=10\r\n");

    writeFile(path, "\xEF\xBB\xBF");   // nothing but the mark
    EXPECT_EQ(getPrivateProfileString("Lintrel", "NumSessions", "none", path), "none");
    ASSERT_TRUE(writePrivateProfileString("Lintrel", "NumSessions", "1", path));
    EXPECT_EQ(readFile(path), "\xEF\xBB\xBF\r\n[Lintrel]\r\nNumSessions=1\r\n");
}

// Inside a scope a file is parsed once and changes made by others are not
// seen; its own writes are.  Outside the scope every read looks again.
TEST_F(ProfileTest, AReadScopeSeesItsOwnWritesAndEndsWithItself)
{
    writeFile(path, "[S]\r\nA=1\r\n");
    {
        ReadScope scope;
        EXPECT_EQ(getPrivateProfileInt("S", "A", 0, path), 1);
        {
            ReadScope inner;   // nested: the outer one keeps the copy
        }
        writeFile(path, "[S]\r\nA=2\r\n");   // behind the scope's back: not seen
        EXPECT_EQ(getPrivateProfileInt("S", "A", 0, path), 1);
        ASSERT_TRUE(writePrivateProfileString("S", "B", "3", path));
        EXPECT_EQ(getPrivateProfileInt("S", "B", 0, path), 3);
        EXPECT_EQ(readFile(path), "[S]\r\nA=1\r\nB=3\r\n");
    }
    writeFile(path, "[S]\r\nA=4\r\n");
    EXPECT_EQ(getPrivateProfileInt("S", "A", 0, path), 4);
}
