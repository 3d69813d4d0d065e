// Saving and loading the control: the stream form byte for byte, the
// property bag, damaged streams, and what loading does beyond the setters.
#include "control_fixture.h"
#include "qelcomm_terminal.h"

#include <map>

namespace controltest {
namespace {

using lt::automation::ByteStream;
using lt::automation::PropertyBag;
using lt::automation::Variant;
namespace M = MemberId;

// The persisted keys in their order, with the value a new control has, as
// a hand-written stream entry.
std::string le(std::uint32_t v, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += char((v >> (8 * i)) & 0xFF);
    return s;
}
std::string lng(std::int32_t v) { return le(3, 2) + le(std::uint32_t(v), 4); }
std::string bln(bool b) { return le(11, 2) + le(b ? 0xFFFF : 0, 2); }
std::string str(const std::string& s)
{
    std::string units;
    for (char c : s)
        units += std::string{c, '\0'};
    return le(8, 2) + le(std::uint32_t(units.size() + 2), 4) + units + le(0, 2);
}
std::string font()
{
    return le(9, 2) + std::string("\x03\x52\xE3\x0B\x91\x8F\xCE\x11\x9D\xE3\x00\xAA\x00\x4B\xB8\x51", 16) + "\x01" +
           le(255, 2) + std::string(1, '\0') + le(400, 2) + le(100000, 4) + "\x08" + "Terminal";
}

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries newControlEntries()
{
    return {{"_cx", le(5080, 4)},
            {"_cy", le(5080, 4)},
            {"Enabled", bln(true)},
            {"Settings", str("9600,n,8,1")},
            {"BackColor", lng(1)},
            {"Columns", lng(80)},
            {"AutoProcess", lng(3)},
            {"AutoScrollColumn", bln(false)},
            {"AutoScrollKeyboard", bln(true)},
            {"AutoScrollRow", bln(true)},
            {"AutoSize", lng(0)},
            {"BackSpace", lng(0)},
            {"CaptureFilename", str("")},
            {"CaptureMode", lng(0)},
            {"CDTimeOut", lng(0)},
            {"ColorFilter", lng(0)},
            {"Columns", lng(80)},
            {"CommEcho", bln(false)},
            {"CommPort", lng(1)},
            {"CommSpy", bln(false)},
            {"CommSpyInput", bln(false)},
            {"CommSpyOutput", bln(false)},
            {"CommSpyProperties", bln(false)},
            {"CommSpyWarnings", bln(false)},
            {"CommSpyEvents", bln(false)},
            {"CTSTimeOut", lng(0)},
            {"DialMode", lng(0)},
            {"DialTimeOut", lng(60000)},
            {"DSRTimeOut", lng(0)},
            {"Echo", bln(false)},
            {"Emulation", lng(4)},
            {"EndOfLineMode", lng(0)},
            {"ForeColor", lng(15)},
            {"Handshaking", lng(2)},
            {"IgnoreOnComm", bln(false)},
            {"InBufferSize", lng(16384)},
            {"InputEcho", bln(false)},
            {"InputLen", lng(0)},
            {"InTimeOut", lng(0)},
            {"OutTimeOut", lng(0)},
            {"LookUpSeparator", str("|")},
            {"LookUpText", str("")},
            {"LookUpTimeOut", lng(10000)},
            {"NullDiscard", bln(false)},
            {"OutBufferSize", lng(16384)},
            {"ParityReplace", str("")},
            {"Rows", lng(25)},
            {"RThreshold", lng(0)},
            {"RTSEnable", bln(false)},
            {"ScrollRows", lng(0)},
            {"SThreshold", lng(0)},
            {"XferProtocol", lng(5)},
            {"XferStatusDialog", lng(2)},
            {"Font", font()},
            {"ModemAnswerCommand", str("ATS0=2^M")},
            {"ModemDialPulseCommand", str("ATDP")},
            {"ModemDialToneCommand", str("ATDT")},
            {"ModemHangUpCommand", str("~~+++~~ATH0^M")},
            {"ModemInitCommand", str("ATX4E1V1S7=60&C1^M")},
            {"ModemTitle", str("Hayes Compatible")},
            {"StatusbarVisible", bln(true)},
            {"ToolbarVisible", bln(true)},
            {"StatusDialog", lng(2)},
            {"UseTAPI", bln(false)},
            {"BorderStyle", lng(1)},
            {"ProjectPhoneNumber", str("")},
            {"ProjectFilename", str("")},
            {"CharacterSet", lng(0)},
            {"Rendition", lng(0)}};
}

// The entries a stored form held before the character set and rendition.
constexpr std::size_t kOldEntries = 67;

std::string streamOf(const Entries& entries, std::size_t count = SIZE_MAX)
{
    std::string s = le(0x300, 4);
    for (std::size_t i = 0; i < entries.size() && i < count; ++i)
        s += entries[i].second;
    return s;
}

std::string streamWith(const std::string& key, const std::string& entry)
{
    Entries e = newControlEntries();
    for (auto& [k, v] : e)
        if (k == key)
            v = entry;
    return streamOf(e);
}

class PersistTest : public ControlTest {
protected:
    // Every persisted property as the member table reads it.
    std::map<std::string, std::string> persisted(CQelComm& c)
    {
        std::map<std::string, std::string> values;
        for (const auto& [key, bytes] : newControlEntries()) {
            const auto id = c.Dispatch().idOfName(key == "StatusDialog" ? "DialStatusDialog" : key);
            if (!id)
                continue;   // the extents
            Variant v;
            c.Dispatch().get(*id, v);
            values[key] = v.toString();
        }
        values["_cx"] = std::to_string(c.ExtentX());
        values["_cy"] = std::to_string(c.ExtentY());
        values["Font size"] = std::to_string(c.Font().size);
        return values;
    }

    void changeEverything(CQelComm& c)
    {
        auto put = [&c](const char* name, const Variant& v) {
            EXPECT_FALSE(c.Dispatch().put(*c.Dispatch().idOfName(name), v).failed()) << name;
        };
        c.SetExtent(3000, 1200);
        put("Enabled", Variant::fromBool(false));
        put("Settings", "19200,e,7,2");
        put("BackColor", std::int32_t(4));
        put("ForeColor", std::int32_t(14));
        put("Columns", std::int32_t(132));
        put("AutoProcess", std::int32_t(1));
        put("AutoScrollColumn", Variant::fromBool(true));
        put("CaptureFilename", "/tmp/capture.txt");
        put("CDTimeOut", std::int32_t(1500));
        put("CommPort", std::int32_t(21));
        put("CommSpyWarnings", Variant::fromBool(true));
        put("DialTimeOut", std::int32_t(30000));
        put("Echo", Variant::fromBool(true));
        put("Emulation", std::int32_t(1));
        put("Handshaking", std::int32_t(1));
        put("InBufferSize", std::int32_t(4096));
        put("InputLen", std::int32_t(10));
        put("OutTimeOut", std::int32_t(250));
        put("LookUpSeparator", ";");
        put("LookUpText", "OK;ERROR");
        put("NullDiscard", Variant::fromBool(true));
        put("ParityReplace", "?");
        put("Rows", std::int32_t(40));
        put("RThreshold", std::int32_t(1));
        put("RTSEnable", Variant::fromBool(true));
        put("XferProtocol", std::int32_t(2));
        put("ModemTitle", "Line modem");
        put("ModemInitCommand", "ATZ^M");
        put("ToolbarVisible", Variant::fromBool(false));
        put("DialStatusDialog", std::int32_t(0));
        put("ProjectFilename", "/tmp/session.qpj");
        put("CharacterSet", std::int32_t(1));
        put("Rendition", std::int32_t(1));
        lt::automation::FontDesc f;
        f.name = "Fixed";
        f.size = 120000;
        c.SetFont(f);
    }
};

TEST_F(PersistTest, NewControlStreamMatchesTheTableByteForByte)
{
    ByteStream out;
    m_control->Save(out);
    EXPECT_EQ(out.bytes(), streamOf(newControlEntries()));

    // The same stream loads into a new control without any message.
    CQelComm other;
    ByteStream in(out.bytes());
    other.Load(in);
    EXPECT_FALSE(other.LastError().failed());
    EXPECT_TRUE(in.atEnd());
}

TEST_F(PersistTest, SavedValuesComeBackThroughStreamAndBag)
{
    openOnLoopback();
    changeEverything(*m_control);
    const auto saved = persisted(*m_control);
    ASSERT_EQ(saved.at("CommPort"), "21");
    ASSERT_EQ(saved.at("Settings"), "19200,e,7,2");

    ByteStream stream;
    m_control->Save(stream);
    CQelComm fromStream;
    ByteStream in(stream.bytes());
    fromStream.Load(in);
    EXPECT_EQ(persisted(fromStream), saved);
    EXPECT_FALSE(fromStream.PortOpen());

    PropertyBag bag;
    m_control->Save(bag);
    CQelComm fromBag;
    fromBag.Load(bag);
    EXPECT_EQ(persisted(fromBag), saved);
    EXPECT_FALSE(fromBag.PortOpen());
}

TEST_F(PersistTest, FormsWithoutTheAddedEntriesLoadAsBefore)
{
    // A stream that ends where older ones ended: no message, and the new
    // properties keep their defaults.
    m_control->Dispatch().put(M::CharacterSet, Variant(std::int32_t(1)));
    ByteStream old(streamWith("Rows", lng(30)).substr(0, streamOf(newControlEntries(), kOldEntries).size()));
    m_control->Load(old);
    EXPECT_FALSE(m_control->LastError().failed());
    Variant v;
    m_control->Dispatch().get(M::Rows, v);
    EXPECT_EQ(v.toString(), "30");
    m_control->Dispatch().get(M::CharacterSet, v);
    EXPECT_EQ(v.toString(), "1");   // untouched, as any property the form does not hold

    // A form that holds them hands them to the terminal in the apply step.
    Entries e = newControlEntries();
    e[kOldEntries].second = lng(1);
    e[kOldEntries + 1].second = lng(1);
    CQelComm loaded;
    ByteStream in(streamOf(e));
    loaded.Load(in);
    EXPECT_FALSE(loaded.LastError().failed());
    EXPECT_EQ(GetCharacterSet(loaded.Window()), 1);
    EXPECT_EQ(GetRendition(loaded.Window()), 1);

    // A stream cut inside the added entries is damaged like any other.
    ByteStream cut(streamOf(e).substr(0, streamOf(e).size() - 2));
    CQelComm damaged;
    damaged.Load(cut);
    EXPECT_EQ(damaged.LastError().hresult, 0x80004005u);
    EXPECT_EQ(GetCharacterSet(damaged.Window()), 1);

    // A property bag without the keys leaves the properties as they were.
    PropertyBag bag;
    CQelComm fresh;
    fresh.Save(bag);
    PropertyBag older;
    for (const auto& [key, bytes] : newControlEntries())
        if (key != "CharacterSet" && key != "Rendition")
            if (auto value = bag.read(key))
                older.write(key, *value);
    CQelComm fromBag;
    fromBag.Dispatch().put(M::Rendition, Variant(std::int32_t(1)));
    fromBag.Load(older);
    EXPECT_EQ(GetRendition(fromBag.Window()), 1);
    EXPECT_EQ(GetCharacterSet(fromBag.Window()), 0);
}

TEST_F(PersistTest, DamagedStreamKeepsWhatWasReadAndStillApplies)
{
    // Cut after CommPort (entry 19): the first entries load, the rest stay.
    Entries e = newControlEntries();
    e[3].second = str("2400,n,8,1");
    e[16].second = lng(100);   // the second Columns
    e[18].second = lng(9);     // CommPort
    e[19].second = bln(true);  // CommSpy, not reached
    std::string bytes = streamOf(e, 20);
    bytes.resize(bytes.size() - 1);

    m_control->SetAmbientDisplayName("Comm1");
    ByteStream in(bytes);
    m_control->Load(in);
    EXPECT_EQ(m_control->Settings(), "2400,n,8,1");
    Variant columns;
    m_control->Dispatch().get(M::Columns, columns);
    EXPECT_EQ(columns.toString(), "100");
    EXPECT_EQ(m_control->CommPort(), 9);
    EXPECT_FALSE(m_control->CommSpy());
    EXPECT_EQ(m_control->ObjectName(), "Comm1");   // the apply step ran
    EXPECT_EQ(m_control->LastError().hresult, 0x80004005u);
    EXPECT_EQ(m_control->LastError().description, "Failed for some unknown reason.");
}

TEST_F(PersistTest, LoadFailureTexts)
{
    struct Case {
        std::string bytes;
        HResult hr;
        const char* text;
    } cases[] = {
        {le(0x200, 4) + streamOf(newControlEntries()).substr(4), 0x8000FFFF,
         "There was an unexpected error loading the properties of Qel Comm."},
        {streamWith("LookUpText", le(8, 2) + le(0x7FFFFFF0, 4)), 0x8007000E,
         "Not enough memory to load Qel Comm Objects."},
        {std::string("\x00\x03", 2), 0x80004005, "Failed for some unknown reason."},
        // Another variant type stops the load without a message.
        {streamWith("Rows", bln(true)), 0, ""},
    };
    for (const Case& c : cases) {
        CQelComm control;
        ByteStream in(c.bytes);
        control.Load(in);
        EXPECT_EQ(control.LastError().hresult, c.hr);
        EXPECT_EQ(control.LastError().description, c.text);
        EXPECT_EQ(control.ObjectName(), "QelComm");
    }
}

TEST_F(PersistTest, EmptySeparatorAndRefusedValues)
{
    // Both an empty string and a null one load as the zero character.
    for (const std::string& empty : {str(""), le(8, 2) + le(0, 4)}) {
        CQelComm control;
        ByteStream in(streamWith("LookUpSeparator", empty));
        control.Load(in);
        EXPECT_EQ(control.LookUpSeparator(), std::string(1, '\0'));
        EXPECT_FALSE(control.LastError().failed());
    }

    PropertyBag bag;
    bag.write("OutTimeOut", Variant(std::int32_t(-5)));
    bag.write("InBufferSize", "not a number");
    bag.write("LookUpSeparator", "");
    bag.write("rthreshold", Variant("3"));
    m_control->Load(bag);
    EXPECT_EQ(m_control->OutTimeOut(), 0);
    EXPECT_EQ(m_control->InBufferSize(), 16384);
    EXPECT_EQ(m_control->LookUpSeparator(), std::string(1, '\0'));
    EXPECT_EQ(m_control->RThreshold(), 3);
}

struct NotifyCount : lt::automation::EventSink {
    int count = 0;
    void onEvent(std::int32_t, lt::automation::Args&) override { ++count; }
};

TEST_F(PersistTest, LoadingIsNotAChange)
{
    NotifyCount notes;
    m_control->PropertyNotify().connect(&notes);
    m_control->SetAmbientDisplayName("Comm1");

    // A bag load sets the properties and nothing else: no apply step.
    PropertyBag bag;
    bag.write("Settings", "4800,n,8,1");
    bag.write("CommSpy", Variant::fromBool(true));
    m_control->Load(bag);
    EXPECT_EQ(m_control->Settings(), "4800,n,8,1");
    EXPECT_EQ(m_control->ObjectName(), "QelComm");

    ByteStream in(streamOf(newControlEntries()));
    m_control->Load(in);
    EXPECT_EQ(m_control->ObjectName(), "Comm1");
    EXPECT_EQ(m_control->Settings(), "9600,n,8,1");
    EXPECT_EQ(notes.count, 0);

    // A fresh state changes nothing.
    m_control->SetCommPort(3);
    m_control->InitNew();
    EXPECT_EQ(m_control->CommPort(), 3);
}

TEST_F(PersistTest, ApplyHandsFontAndEnabledToTheWindowThenRefreshesTheStatus)
{
    const win::Hwnd window = m_control->Window();
    EXPECT_TRUE(win::isWindowEnabled(window));
    const auto* font = reinterpret_cast<const lt::automation::FontDesc*>(win::sendMessage(window, win::WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr) << "a new control's window has its font";
    EXPECT_EQ(font->name, "Terminal");

    // The saved control: disabled, another font, other settings.
    CQelComm saved;
    lt::automation::FontDesc fixed;
    fixed.name = "Fixed";
    fixed.size = 120000;
    saved.SetFont(fixed);
    saved.SetEnabled(false);
    EXPECT_FALSE(win::isWindowEnabled(saved.Window()));
    EXPECT_FALSE(saved.Dispatch().put(M::Settings, Variant("2400,o,7,1")).failed());
    ByteStream out;
    saved.Save(out);

    int refreshes = 0;
    std::string settingsSeen;
    bool enabledSeen = true;
    m_control->SetStatusRefresh([&] {
        ++refreshes;
        char text[32] = {};
        ::GetSettings(window, text);
        settingsSeen = text;
        enabledSeen = win::isWindowEnabled(window);
    });
    ByteStream in(out.bytes());
    m_control->Load(in);
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(settingsSeen, "2400,o,7,1") << "the status is refreshed after the values are pushed";
    EXPECT_FALSE(enabledSeen);
    font = reinterpret_cast<const lt::automation::FontDesc*>(win::sendMessage(window, win::WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->name, "Fixed");
    EXPECT_EQ(font->size, 120000);

    // Writing Enabled reaches the window at once; a bag load has no apply step.
    m_control->SetEnabled(true);
    EXPECT_TRUE(win::isWindowEnabled(window));
    PropertyBag bag;
    bag.write("Enabled", Variant::fromBool(false));
    m_control->Load(bag);
    EXPECT_FALSE(win::isWindowEnabled(window));
    EXPECT_EQ(refreshes, 1);
}

}  // namespace
}  // namespace controltest
