// The settings string: what is accepted, what is kept when parts are
// omitted, what is rejected, and how it reads back.
#include "settings_grammar.h"

#include <gtest/gtest.h>

using qelcomm::formatSettings;
using qelcomm::LineFraming;
using qelcomm::parseSettings;

namespace {

const LineFraming kStart{9600, 0, 8, 0};

std::string apply(const std::string& text, LineFraming start = kStart)
{
    if (!parseSettings(text, start))
        return "rejected";
    return formatSettings(start);
}

TEST(SettingsGrammar, AcceptedFormsReadBackCanonically)
{
    const struct {
        const char* text;
        const char* readBack;
    } cases[] = {
        {"9600,n,8,1", "9600,n,8,1"},
        {"9600,N,8,1", "9600,n,8,1"},
        {" 9600 , n , 8 , 1 ", "9600,n,8,1"},
        {"\t115200,\te,7,2", "115200,e,7,2"},
        {"9600n81", "9600,n,8,1"},
        {"2400,o,5,1.5", "2400,o,5,1.5"},
        {"9600,m,6,2", "9600,m,6,2"},
        {"9600,s,4,1", "9600,s,4,1"},
        {"300,E,7,1", "300,e,7,1"},
        // Cut at 19 characters before parsing: the trailing x is never seen.
        {"9600,n,8,1                    x", "9600,n,8,1"},
        {"", "9600,n,8,1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(apply(c.text), c.readBack) << "text: \"" << c.text << "\"";
}

TEST(SettingsGrammar, OmittedPartsKeepTheirValues)
{
    const LineFraming start{4800, 2, 7, 2};
    EXPECT_EQ(apply("19200", start), "19200,e,7,2");
    EXPECT_EQ(apply("9600,,7", {1200, 1, 8, 2}), "9600,o,7,2");
    EXPECT_EQ(apply(",e", {1200, 0, 8, 0}), "1200,e,8,1");
    EXPECT_EQ(apply(",,,2", {1200, 0, 8, 0}), "1200,n,8,2");
}

TEST(SettingsGrammar, RejectedTextsChangeNothing)
{
    const char* rejected[] = {
        "9600,none,8,1",  // after the n, "one" is no data-bits entry
        "9600,x,8,1", "9600,n,9,1", "9600,n,8,3", "9600,n,8,1,x", "9600,n,8,1 x", "abc", "9600,n,3,1",
        "-9600,n,8,1",
    };
    for (const char* text : rejected) {
        LineFraming f{1200, 1, 7, 2};
        EXPECT_FALSE(parseSettings(text, f)) << "text: \"" << text << "\"";
        EXPECT_EQ(formatSettings(f), "1200,o,7,2") << "text: \"" << text << "\"";
    }
}

TEST(SettingsGrammar, BaudWrapsAndAlwaysReadsBackAsAcceptedText)
{
    LineFraming f = kStart;
    ASSERT_TRUE(parseSettings("4294967296,n,8,1", f));  // 2^32 wraps to 0
    EXPECT_EQ(f.baud, 0u);
    ASSERT_TRUE(parseSettings("4294967295", f));
    const std::string text = formatSettings(f);
    EXPECT_EQ(text, "4294967295,n,8,1");
    // The longest text still fits the 19-character contract and parses again.
    f.stopBits = 1;
    EXPECT_LE(formatSettings(f).size(), 19u);
    LineFraming again = kStart;
    EXPECT_TRUE(parseSettings(formatSettings(f), again));
    EXPECT_EQ(again.baud, 4294967295u);
}

TEST(SettingsGrammar, UnknownValuesFormatAsEmptyParts)
{
    EXPECT_EQ(formatSettings({9600, 9, 3, 7}), "9600,,,");
}

}  // namespace
