// The binary form of persisted values, font objects in streams and bags,
// and the member table's access observer.
#include "automation/automation.h"

#include <gtest/gtest.h>

using namespace lt::automation;

namespace {

std::string hex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

}  // namespace

TEST(PersistedValue, LayoutOfEachType)
{
    ByteStream s;
    writeValue(s, VarType::Long, Variant(std::int32_t(-2)));
    writeValue(s, VarType::Boolean, Variant::fromBool(true));
    writeValue(s, VarType::Boolean, Variant(std::int32_t(0)));
    writeValue(s, VarType::String, Variant("A\xE9"));
    writeValue(s, VarType::String, Variant(""));
    EXPECT_EQ(hex(s.bytes()),
              "0300" "feffffff"
              "0b00" "ffff"
              "0b00" "0000"
              "0800" "06000000" "4100e9000000"
              "0800" "02000000" "0000");

    Variant v;
    EXPECT_EQ(readValue(s, VarType::Long, v), kOk);
    EXPECT_EQ(v, Variant(std::int32_t(-2)));
    EXPECT_EQ(readValue(s, VarType::Boolean, v), kOk);
    EXPECT_EQ(v, Variant::fromBool(true));
    EXPECT_EQ(readValue(s, VarType::Boolean, v), kOk);
    EXPECT_EQ(v, Variant::fromBool(false));
    EXPECT_EQ(readValue(s, VarType::String, v), kOk);
    EXPECT_EQ(v.toString(), "A\xE9");
    EXPECT_EQ(readValue(s, VarType::String, v), kOk);
    EXPECT_EQ(v.toString(), "");
    EXPECT_TRUE(s.atEnd());
}

TEST(PersistedValue, StringsFromOtherWriters)
{
    // A null string (count 0), embedded zero units, and a unit no byte can hold.
    ByteStream s(std::string("\x08\x00\x00\x00\x00\x00", 6) + std::string("\x08\x00\x06\x00\x00\x00", 6) +
                 std::string("\x00\x00\x3A\x04\x00\x00", 6));
    Variant v("unchanged");
    EXPECT_EQ(readValue(s, VarType::String, v), kOk);
    EXPECT_EQ(v.toString(), "");
    EXPECT_EQ(readValue(s, VarType::String, v), kOk);
    EXPECT_EQ(v.toString(), std::string("\0?", 2));
}

TEST(PersistedValue, DamagedDataIsReported)
{
    Variant v;
    ByteStream shortLong(std::string("\x03\x00\x01\x02", 4));
    EXPECT_EQ(readValue(shortLong, VarType::Long, v), kFail);
    ByteStream noType(std::string("\x03", 1));
    EXPECT_EQ(readValue(noType, VarType::Long, v), kFail);
    ByteStream otherType(std::string("\x0b\x00\xff\xff", 4));
    EXPECT_EQ(readValue(otherType, VarType::Long, v), kBadVarType);
    ByteStream cutString(std::string("\x08\x00\x10\x00\x00\x00\x41\x00", 8));
    EXPECT_EQ(readValue(cutString, VarType::String, v), kFail);
    ByteStream hugeString(std::string("\x08\x00\xf0\xff\xff\x7f", 6));
    EXPECT_EQ(readValue(hugeString, VarType::String, v), kOutOfMemory);
}

TEST(PersistedFont, StreamLayoutAndRoundTrip)
{
    FontDesc f;
    ByteStream s;
    writeFont(s, f);
    EXPECT_EQ(hex(s.bytes()),
              "0900"
              "0352e30b918fce119de300aa004bb851"   // the stock font's class id
              "01" "ff00" "00" "9001" "a0860100" "08" + hex("Terminal"));

    FontDesc other;
    other.name = "Courier New";
    other.size = 125000;
    other.weight = 700;
    other.charset = 0;
    other.italic = other.strikethrough = true;
    ByteStream t;
    writeFont(t, other);
    FontDesc back;
    EXPECT_EQ(readFont(t, back), kOk);
    EXPECT_EQ(back, other);

    // Cut anywhere, the font keeps its value and the load reports it.
    for (std::size_t n = 0; n < t.bytes().size(); ++n) {
        ByteStream cut(t.bytes().substr(0, n));
        FontDesc kept;
        EXPECT_EQ(readFont(cut, kept), kFail) << n;
        EXPECT_EQ(kept, FontDesc()) << n;
    }
}

TEST(PersistedFont, NestedBag)
{
    FontDesc f;
    f.name = "Fixed";
    f.size = 90000;
    f.underline = true;
    PropertyBag bag;
    bag.writeObject("Font", fontBag(f));
    ASSERT_NE(bag.readObject("FONT"), nullptr);
    EXPECT_EQ(bag.readObject("Other"), nullptr);
    EXPECT_DOUBLE_EQ(*bag.readObject("font")->read("Size")->toDouble(), 9.0);
    FontDesc back;
    readFontBag(*bag.readObject("Font"), back);
    EXPECT_EQ(back, f);
}

TEST(Dispatch, ObserverSeesReadsAndWrites)
{
    DispatchTable t;
    std::int32_t value = 5;
    std::vector<std::string> log;
    t.addProperty(1, "Level", [&] { return Variant(value); }, [&](const Variant& v) {
        log.push_back("set");
        value = *v.toInt32();
        return ErrorInfo{};
    });
    t.addProperty(2, "Wait", {}, [&](const Variant&) {
        log.push_back("wait");
        return ErrorInfo{};
    });
    t.observeBefore(2);
    t.addCheckedProperty(3, "Refused", [](Variant&) { return ErrorInfo{kInvalidCall, 5, "busy", {}}; });
    t.setObserver([&](std::int32_t id, const std::string& name, DispatchTable::Access a, const Variant& v) {
        log.push_back(name + (a == DispatchTable::Access::Read ? " read " : " write ") + v.toString() + " #" +
                      std::to_string(id));
    });

    Variant out;
    t.get(1, out);
    t.put(1, Variant(std::int32_t(7)));
    t.put(2, Variant(std::int32_t(100)));
    t.get(3, out);
    EXPECT_EQ(log, (std::vector<std::string>{"Level read 5 #1", "set", "Level write 7 #1", "Wait write 100 #2",
                                             "wait"}));
}
