// The modem list's line rules through real files,
// the search order with its open log, and the flat settings calls.
#include "engine_fixture.h"
#include "modem_options.h"
#include "qelcomm_modem.h"
#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace enginetest;
namespace mo = qelcomm::modem;

namespace {

constexpr const char* kDefaultLine =
    "Hayes Compatible\tATX4E1V1S7=60&C1^M\tATDT\tATDP\tATS0=2^M\t~~+++~~ATH0^M\t14400\t";

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string options(QcHandle o)
{
    std::string s(QC_MODEM_OPTIONS_SIZE, '\0');
    s.resize(std::size_t(GetModemOptions(o, s.data())));
    return s;
}

TEST(ModemList, LineRulesThroughARealFile)
{
    testsupport::TempDir dir;
    const std::string longLine(250, 'x');
    writeFile(dir.file("MODEM.LST"), "One\tATZ^M\r\nTwo\n\tATZ\r" + longLine + "\r\nLast\r\n\r\nnot an entry\r\n");
    const auto list = mo::readModemList({dir.path()});
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 5u);
    EXPECT_EQ((*list)[0], "One\tATZ^M");
    EXPECT_EQ((*list)[1], "Two\tATZ");              // the LF inside is skipped
    EXPECT_EQ((*list)[2], std::string(199, 'x'));   // cut at 199 ...
    EXPECT_EQ((*list)[3], std::string(51, 'x'));    // ... the rest is the next line
    EXPECT_EQ((*list)[4], "Last");

    EXPECT_EQ(mo::splitModemList("A\rB"), (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(mo::splitModemList("\r\nA\r\n").empty());   // an empty first line ends at once
}

TEST(ModemList, FoldersAreTriedInOrderAndEveryOpenIsLogged)
{
    testsupport::TempDir state, first, second;
    setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    writeFile(second.file("MODEM.LST"), "Second\r\n");
    const std::string missing = first.path() + "/none";
    const auto list = mo::readModemList({missing, second.path(), first.path()});
    ASSERT_TRUE(list);
    EXPECT_EQ(list->front(), "Second");
    EXPECT_EQ(readFile(state.file("qelcomm6/comlog32.txt")),
              "File open " + missing + "/MODEM.LST: failed.\r\nFile open " + second.path() +
                  "/MODEM.LST: success.\r\n");
    EXPECT_FALSE(mo::readModemList({missing}));

    setenv("XDG_DATA_HOME", "/data/home", 1);
    setenv("XDG_DATA_DIRS", "/one:/two", 1);
    const auto folders = mo::modemListFolders();   // library, program, these, then the prefix's share
    ASSERT_EQ(folders.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(folders.begin() + 2, folders.end() - 1),
              (std::vector<std::string>{"/data/home/qelcomm6", "/one/qelcomm6", "/two/qelcomm6"}));
    EXPECT_EQ(folders.back(), (std::filesystem::path(folders.front()).parent_path() / "share" / "qelcomm6").string());
}

class ModemOptionsTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        setenv("XDG_STATE_HOME", m_state.path().c_str(), 1);
    }
    testsupport::TempDir m_state;
};

TEST_F(ModemOptionsTest, NewObjectHoldsTheDefaultAndLoadsEntriesOfTheShippedList)
{
    QcHandle o = newObject();
    EXPECT_EQ(options(o), kDefaultLine);
    EXPECT_EQ(GetDialTimeOut(o), 30000u);
    ASSERT_EQ(LoadModemOptions(o, 5), 1);   // the list beside the library
    EXPECT_EQ(options(o), "Null Modem Cable\t\t\t\t\t\t115200\t");
    // Beyond the list, or negative: nothing changes.
    EXPECT_EQ(LoadModemOptions(o, 6), 0);
    EXPECT_EQ(LoadModemOptions(o, -1), 0);
    EXPECT_EQ(options(o), "Null Modem Cable\t\t\t\t\t\t115200\t");
    EXPECT_EQ(LoadModemOptions(o, 0), 1);
    EXPECT_EQ(options(o), kDefaultLine);
    EXPECT_NE(readFile(m_state.file("qelcomm6/comlog32.txt")).find("MODEM.LST: success.\r\n"), std::string::npos);
}

TEST_F(ModemOptionsTest, ControlCharactersSeparateFieldsWithinTheBufferSize)
{
    QcHandle o = newObject();
    SetModemOptions(o, "a\x01" "b\r\nc\n");
    EXPECT_EQ(options(o), "a\tb\t\tc\t");
    SetModemOptions(o, std::string(5000, 'y').c_str());
    EXPECT_EQ(GetModemOptions(o, nullptr), QC_MODEM_OPTIONS_SIZE);
    EXPECT_EQ(GetModemOptions(0, nullptr), 0);
}

}  // namespace
