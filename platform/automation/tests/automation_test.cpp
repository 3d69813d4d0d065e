#include "automation/automation.h"

#include <gtest/gtest.h>

using namespace lt::automation;

TEST(Variant, BooleanRules)
{
    EXPECT_EQ(Variant::fromBool(true).toAutomationBool(), -1);
    EXPECT_EQ(Variant::fromBool(false).toAutomationBool(), 0);
    EXPECT_TRUE(Variant(std::int16_t(1)).toBool());
    EXPECT_TRUE(Variant(std::int32_t(-7)).toBool());
    EXPECT_TRUE(Variant(0.5).toBool());
    EXPECT_FALSE(Variant(std::int32_t(0)).toBool());
    EXPECT_FALSE(Variant().toBool());
    EXPECT_TRUE(Variant("True").toBool());
    EXPECT_TRUE(Variant("-1").toBool());
    EXPECT_FALSE(Variant("0").toBool());
    EXPECT_EQ(*Variant::fromBool(true).toInt32(), -1);
}

TEST(Variant, NumericConversions)
{
    EXPECT_EQ(*Variant("9600").toInt32(), 9600);
    EXPECT_FALSE(Variant("96x").toInt32());
    EXPECT_EQ(*Variant(2.5).toInt32(), 2);   // half to even
    EXPECT_EQ(*Variant(3.5).toInt32(), 4);
    EXPECT_FALSE(Variant(std::int32_t(40000)).toInt16());
    EXPECT_EQ(*Variant(std::int32_t(-32768)).toInt16(), -32768);
    EXPECT_EQ(Variant(std::int32_t(1200)).toString(), "1200");
    EXPECT_EQ(Variant(std::int16_t(5)), Variant(std::int16_t(5)));
    EXPECT_FALSE(Variant(std::int16_t(5)) == Variant(std::int32_t(5)));
}

TEST(Variant, BytesPassUnchanged)
{
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    Variant v(all);
    EXPECT_EQ(v.toString(), all);
    EXPECT_EQ(v.toString().size(), 256u);
}

TEST(Dispatch, ByNameAndId)
{
    std::int32_t baud = 9600;
    DispatchTable t;
    t.addProperty(1, "Baud", [&] { return Variant(baud); },
                  [&](const Variant& v) {
                      auto i = v.toInt32();
                      if (!i || *i <= 0) return ErrorInfo{kInvalidCall, 380, "Invalid property value", "Test"};
                      baud = *i;
                      return ErrorInfo{};
                  });
    t.addProperty(2, "Version", [] { return Variant("1.0"); });
    t.addMethod(3, "Add", [](Args& a, Variant& r) {
        r = Variant(*a[0]->toInt32() + *a[1]->toInt32());
        *a[0] = Variant(std::int32_t(0));   // by-reference write-back
        return ErrorInfo{};
    });

    EXPECT_EQ(*t.idOfName("bAUD"), 1);
    EXPECT_FALSE(t.idOfName("Parity"));
    EXPECT_EQ(*t.nameOf(3), "Add");
    EXPECT_EQ(t.propertyIds(), (std::vector<std::int32_t>{1, 2}));
    EXPECT_FALSE(t.isWritable(2));

    EXPECT_FALSE(t.put(1, Variant("19200")).failed());
    Variant out;
    EXPECT_FALSE(t.get(*t.idOfName("baud"), out).failed());
    EXPECT_EQ(*out.toInt32(), 19200);

    ErrorInfo e = t.put(1, Variant(std::int32_t(-1)));
    EXPECT_EQ(e.hresult, kInvalidCall);
    EXPECT_EQ(e.code, 380);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(t.put(2, Variant("x")).hresult, kMemberNotFound);
    EXPECT_EQ(t.get(99, out).hresult, kMemberNotFound);

    Variant a(std::int32_t(2)), b(std::int32_t(3)), r;
    Args args{&a, &b};
    EXPECT_FALSE(t.invoke(3, args, r).failed());
    EXPECT_EQ(*r.toInt32(), 5);
    EXPECT_EQ(*a.toInt32(), 0);
}

TEST(Dispatch, CheckedReadReportsItsError)
{
    bool busy = true;
    DispatchTable t;
    t.addCheckedProperty(7, "Input", [&](Variant& out) {
        if (busy) return ErrorInfo{kInvalidCall, 5, "busy", "Test"};
        out = Variant("data");
        return ErrorInfo{};
    });
    Variant out("untouched");
    EXPECT_EQ(t.get(7, out).hresult, kInvalidCall);
    EXPECT_EQ(out.toString(), "untouched");
    busy = false;
    Variant r;
    Args none;
    EXPECT_FALSE(t.invoke(7, none, r).failed());
    EXPECT_EQ(r.toString(), "data");
    EXPECT_EQ(t.propertyIds(), (std::vector<std::int32_t>{7}));
    EXPECT_FALSE(t.isWritable(7));
}

namespace {
struct Recorder : EventSink {
    std::vector<std::string>* log;
    std::string name;
    std::function<void()> during;
    Recorder(std::vector<std::string>* l, std::string n) : log(l), name(std::move(n)) {}
    void onEvent(std::int32_t dispid, Args& args) override
    {
        log->push_back(name + ":" + std::to_string(dispid));
        if (!args.empty()) *args[0] = Variant::fromBool(true);
        if (during) during();
    }
};
}  // namespace

TEST(ConnectionPoint, OrderAndWriteBack)
{
    std::vector<std::string> log;
    ConnectionPoint cp;
    Recorder a(&log, "a"), b(&log, "b"), c(&log, "c");
    cp.connect(&a);
    auto cb = cp.connect(&b);
    cp.connect(&c);
    Variant cancel = Variant::fromBool(false);
    Args args{&cancel};
    cp.fire(7, args);
    EXPECT_EQ(log, (std::vector<std::string>{"a:7", "b:7", "c:7"}));
    EXPECT_TRUE(cancel.toBool());
    EXPECT_TRUE(cp.disconnect(cb));
    EXPECT_FALSE(cp.disconnect(cb));
    log.clear();
    cp.fire(8, args);
    EXPECT_EQ(log, (std::vector<std::string>{"a:8", "c:8"}));
}

TEST(ConnectionPoint, SinkDisconnectsDuringCall)
{
    std::vector<std::string> log;
    ConnectionPoint cp;
    Recorder a(&log, "a"), b(&log, "b"), c(&log, "c");
    std::uint32_t ca = cp.connect(&a);
    cp.connect(&b);
    std::uint32_t cc = cp.connect(&c);
    a.during = [&] { cp.disconnect(ca); cp.disconnect(cc); };
    Args none;
    cp.fire(1, none);
    EXPECT_EQ(log, (std::vector<std::string>{"a:1", "b:1"}));
    EXPECT_EQ(cp.count(), 1u);
}

TEST(ConnectionPoint, OwnerDestroyedDuringCall)
{
    std::vector<std::string> log;
    auto cp = std::make_unique<ConnectionPoint>();
    Recorder a(&log, "a"), b(&log, "b");
    cp->connect(&a);
    cp->connect(&b);
    a.during = [&] { cp.reset(); };
    Args none;
    cp->fire(2, none);
    EXPECT_EQ(log, (std::vector<std::string>{"a:2"}));
}

TEST(PropertyBag, CaseInsensitive)
{
    PropertyBag bag;
    bag.write("Settings", Variant("9600,n,8,1"));
    EXPECT_EQ(bag.read("settings")->toString(), "9600,n,8,1");
    EXPECT_FALSE(bag.read("Missing"));
}

TEST(ByteStream, RoundTripAndLayout)
{
    ByteStream w;
    w.writeU8(0xFE);
    w.writeI16(-2);
    w.writeI32(0x01020304);
    w.writeDouble(-1.5);
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    w.writeString(all);
    EXPECT_EQ(w.bytes().substr(0, 7), std::string("\xFE\xFE\xFF\x04\x03\x02\x01", 7));
    EXPECT_EQ(w.bytes().size(), 1u + 2 + 4 + 8 + 4 + 256);

    ByteStream r(w.bytes());
    std::uint8_t u8; std::int16_t i16; std::int32_t i32; double d; std::string s;
    ASSERT_TRUE(r.readU8(u8) && r.readI16(i16) && r.readI32(i32) && r.readDouble(d) && r.readString(s));
    EXPECT_EQ(u8, 0xFE);
    EXPECT_EQ(i16, -2);
    EXPECT_EQ(i32, 0x01020304);
    EXPECT_EQ(d, -1.5);
    EXPECT_EQ(s, all);
    EXPECT_TRUE(r.atEnd());
    EXPECT_FALSE(r.readU8(u8));
}

TEST(ByteStream, ShortDataRejected)
{
    ByteStream w;
    w.writeI32(100);   // claims 100 bytes, has 2
    w.writeU8(1);
    w.writeU8(2);
    ByteStream r(w.bytes());
    std::string s;
    EXPECT_FALSE(r.readString(s));
    std::int32_t n;
    EXPECT_TRUE(r.readI32(n));   // position restored after the failed read
    EXPECT_EQ(n, 100);
}
