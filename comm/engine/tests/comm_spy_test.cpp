// The trace file's line formats and the wrapping of data bytes.
#include "comm_spy.h"
#include "engine_fixture.h"
#include "temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace enginetest;
using qelcomm::formatCommSpyEntry;

namespace {

std::string render(const std::string& text, const std::string& data)
{
    return formatCommSpyEntry(text, reinterpret_cast<const std::uint8_t*>(data.data()), std::uint32_t(data.size()));
}

TEST(CommSpyFormat, MixesQuotedTextAndControlCharacters)
{
    EXPECT_EQ(render("X reads 3 bytes: ", "A\r\n"), "X reads 3 bytes: \"A\" + Chr(13) + Chr(10)\r\n");
    EXPECT_EQ(render("t ", "\rOK\r"), "t Chr(13) + \"OK\" + Chr(13)\r\n");
    EXPECT_EQ(render("Comm1.Output = ", "OK"), "Comm1.Output = \"OK\"\r\n");
    EXPECT_EQ(render("Comm1.Output = ", ""), "Comm1.Output = \"\"\r\n");
    EXPECT_EQ(formatCommSpyEntry("Comm1.PortOpen = True", nullptr, 0), "Comm1.PortOpen = True\r\n");
}

TEST(CommSpyFormat, LongDataWrapsWithContinuations)
{
    const std::string text = "QelComm1 reads 100 bytes: ";  // 26 columns
    const std::string entry = render(text, std::string(100, 'a'));
    std::vector<std::string> lines;
    std::istringstream in(entry);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    ASSERT_GE(lines.size(), 4u);
    // Every line but the last continues; no line is wider than 80 columns
    // and none renders more than 32 bytes.
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string l = lines[i];
        ASSERT_EQ(l.back(), '\r');
        l.pop_back();
        const bool last = i + 1 == lines.size();
        EXPECT_EQ(l.size() >= 4 && l.compare(l.size() - 4, 4, " + _") == 0, !last) << l;
        if (!last)
            l.resize(l.size() - 4);
        const std::string body = i == 0 ? l.substr(text.size()) : l.substr(10);
        if (i > 0) {
            EXPECT_EQ(l.substr(0, 10), std::string(10, ' '));
        }
        EXPECT_LE(i == 0 ? l.size() : body.size(), i == 0 ? 80u : 70u);
        EXPECT_EQ(body.front(), '"');
        EXPECT_EQ(body.back(), '"');
        const std::size_t n = body.size() - 2;
        EXPECT_LE(n, 32u);
        bytes += n;
    }
    EXPECT_EQ(bytes, 100u);
}

TEST(CommSpyFormat, AtLeastOneBytePerLineEvenWhenNothingFits)
{
    const std::string entry = render(std::string(90, 't'), "\x01\x02");
    EXPECT_EQ(entry, std::string(90, 't') + "Chr(1) + _\r\n          Chr(2)\r\n");
}

class CommSpyFile : public EngineTest {};

TEST_F(CommSpyFile, TracesReadsAndWritesWhenSwitchedOn)
{
    testsupport::TempDir state;
    setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    QcHandle o = newObject();
    serial::Handle far = openOnLoopback(o);
    EXPECT_EQ(SetCommSpyOutput(o, 1), 1);
    EXPECT_EQ(SetCommSpyInput(0, 1), 0);
    Output(o, "hi\r", 3);
    std::uint32_t n = 0;
    serial::WriteFile(far, "ok", 2, &n);
    char line[8];
    SetCommSpyInput(o, 1);
    GetLineInput(o, line, 3);
    std::ifstream f(state.file("qelcomm6/commspy.txt"), std::ios::binary);
    std::stringstream all;
    all << f.rdbuf();
    EXPECT_EQ(all.str(),
              "QelComm1 writes 3 bytes: \"hi\" + Chr(13)\r\n"
              "QelComm1 reads 1 bytes: \"o\"\r\n"
              "QelComm1 reads 1 bytes: \"k\"\r\n");
}

}  // namespace
