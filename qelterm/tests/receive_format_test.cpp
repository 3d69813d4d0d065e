// What the window makes of received bytes (time stamps, the hex dump), and
// the words it names its port with.
#include "options.h"
#include "port_dialog.h"
#include "port_name.h"
#include "pty_pair.h"
#include "receive_format.h"
#include "serial/namespace.h"
#include "window_text.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using qelterm::ReceiveFormat;

const QTime kNoon(12, 34, 56, 789);
const std::string kStamp = "[12:34:56.789] ";

TEST(ReceiveFormat, TextPassesUnchangedWithoutStamps)
{
    ReceiveFormat f;
    const std::string all = std::string("a\x1b[31mb\r\n\xC3\xA9\0z", 13);
    EXPECT_EQ(f.format(all, kNoon), all);
}

TEST(ReceiveFormat, StampsGoBeforeEachLineAsTioPutsThem)
{
    const struct {
        std::vector<std::string> reads;   // one format() call each
        std::string shown;
    } cases[] = {
        {{"boot\r\nok\r\n"}, kStamp + "boot\r\n" + kStamp + "ok\r\n"},
        // A line split over reads has one stamp; the next line's comes with its first byte.
        {{"bo", "ot\r", "\n", "", "ok"}, kStamp + "boot\r\n" + kStamp + "ok"},
        // CR and LF alone open no line; an empty line gets no stamp.
        {{"\r\n\n\rx"}, "\r\n\n\r" + kStamp + "x"},
        // An escape sequence starting a line is stamped before it, not inside it.
        {{"\x1b[32mOK\x1b[0m\n"}, kStamp + "\x1b[32mOK\x1b[0m\n"},
        // UTF-8 stays whole.
        {{"\xE2\x9C\x93 gr\xC3\xBC\xC3\x9F"}, kStamp + "\xE2\x9C\x93 gr\xC3\xBC\xC3\x9F"},
    };
    for (const auto& c : cases) {
        ReceiveFormat f;
        f.setTimestamps(true);
        std::string shown;
        for (const std::string& r : c.reads)
            shown += f.format(r, kNoon);
        EXPECT_EQ(shown, c.shown) << c.reads[0];
    }
}

TEST(ReceiveFormat, StampsTurnedOnMidLineBeginWithTheNextLine)
{
    ReceiveFormat f;
    EXPECT_EQ(f.format("half", kNoon), "half");
    f.setTimestamps(true);
    EXPECT_EQ(f.format(" line\nnext", kNoon), " line\n" + kStamp + "next");
    // The window's own notice ends a line.
    f.lineStarted();
    EXPECT_EQ(f.format("x", QTime(1, 2, 3, 4)), "[01:02:03.004] x");
}

TEST(ReceiveFormat, HexDumpLinesOfSixteenWithTheirText)
{
    ReceiveFormat f;
    f.setHex(true);
    // Short line: the text column stays where a full line puts it.
    EXPECT_EQ(f.format("OK\r\n", kNoon), "4f 4b 0d 0a" + std::string(12 * 3, ' ') + "  OK..\r\n");
    // Every byte value in two lowercase digits; only printable ASCII as itself.
    const std::string bytes = std::string("\x00\x1f \x7e\x7f\x80\xff", 7) + "0123456789A";
    EXPECT_EQ(f.format(bytes, kNoon),
              "00 1f 20 7e 7f 80 ff 30 31 32 33 34 35 36 37 38  .. ~...012345678\r\n"
              "39 41" + std::string(14 * 3, ' ') + "  9A\r\n");
    EXPECT_EQ(f.format("", kNoon), "");
    f.setTimestamps(true);
    EXPECT_EQ(f.format("\x1b[", kNoon), kStamp + "1b 5b" + std::string(14 * 3, ' ') + "  .[\r\n");
}

TEST(ReceiveFormat, TextAfterTheHexDumpStartsALineWithItsStamp)
{
    ReceiveFormat f;
    f.setTimestamps(true);
    EXPECT_EQ(f.format("mid", kNoon), kStamp + "mid");
    f.setHex(true);
    f.format("xy", kNoon);
    f.setHex(false);
    EXPECT_EQ(f.format("text", kNoon), kStamp + "text");
}

TEST(ReceiveFormat, WindowStartsWithStampsOrHexOnRequest)
{
    const auto both = qelterm::parseOptions({"--timestamps", "--hex", "--port", "rfc2217://h:1"});
    ASSERT_TRUE(both.options) << both.error;
    EXPECT_TRUE(both.options->timestamps);
    EXPECT_TRUE(both.options->hex);
    EXPECT_EQ(both.options->port, "rfc2217://h:1");
    const auto none = qelterm::parseOptions({});
    ASSERT_TRUE(none.options);
    EXPECT_FALSE(none.options->timestamps || none.options->hex);
    EXPECT_FALSE(qelterm::parseOptions({"render", "--hex", "-"}).options);   // the window's alone
}

TEST(WindowText, PortLabelsAndTitles)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(3, pty.slavePath());
    // A device path or a remote port as given; COM names with their device.
    EXPECT_EQ(qelterm::portLabel("/dev/ttyUSB7", 250, 250), "/dev/ttyUSB7");
    EXPECT_EQ(qelterm::portLabel("rfc2217://10.0.0.5:2217", 250, 250), "rfc2217://10.0.0.5:2217");
    EXPECT_EQ(qelterm::portLabel("COM3", 3, 3), "COM3 (" + pty.slavePath() + ")");
    // The port changed since (the Properties dialog): the given name no longer applies.
    EXPECT_EQ(qelterm::portLabel("/dev/ttyUSB7", 250, 3), "COM3 (" + pty.slavePath() + ")");
    EXPECT_EQ(qelterm::portLabel("", 0, 3), "COM3 (" + pty.slavePath() + ")");

    EXPECT_EQ(qelterm::windowTitle("", "/dev/ttyUSB0", "115200,n,8,1", "Connected"),
              "/dev/ttyUSB0 115200,n,8,1 [Connected] - qelterm");
    EXPECT_EQ(qelterm::windowTitle("/home/me/board.sco", "COM3 (/dev/ttyS2)", "9600,n,8,1", "Device gone"),
              "board.sco: COM3 (/dev/ttyS2) 9600,n,8,1 [Device gone] - qelterm");
}

TEST(RemotePorts, NamesTheSerialLayerIsGivenThroughTheMap)
{
    EXPECT_TRUE(qelterm::isRemotePortName("rfc2217://host:2217"));
    EXPECT_TRUE(qelterm::isRemotePortName("RFC2217://host:2217"));
    for (const char* name : {"rfc2217://", "socket://10.0.0.1:4001", "://host:1", "a b://host:1", "/dev/ttyS0", "COM3", "host:2217"})
        EXPECT_FALSE(qelterm::isRemotePortName(name)) << name;

    EXPECT_EQ(qelterm::remotePortName("board-7.lab", 2217), "rfc2217://board-7.lab:2217");
    EXPECT_EQ(qelterm::remotePortName("::1", 4000), "rfc2217://[::1]:4000");
    EXPECT_EQ(qelterm::remotePortName("", 2217), "");
    EXPECT_EQ(qelterm::remotePortName("a host", 2217), "");
    EXPECT_EQ(qelterm::remotePortName("host/x", 2217), "");
    EXPECT_EQ(qelterm::remotePortName("host", 0), "");

    // A remote port reaches the serial layer as a COM number of a private
    // ports map, as a device path does; "COM12=rfc2217://..." in the
    // user's map is found again under its number.
    testsupport::PortsMap ports;
    ports.map(12, "rfc2217://10.0.0.5:2217");
    EXPECT_EQ(qelterm::choosePort("rfc2217://10.0.0.5:2217").number, 12);
    const qelterm::PortChoice c = qelterm::choosePort("rfc2217://127.0.0.1:7001");
    ASSERT_GT(c.number, 0);
    EXPECT_EQ(serial::resolvePortName("COM" + std::to_string(c.number)), "rfc2217://127.0.0.1:7001");
    QFile::remove(QString::fromStdString(c.tempMap));
    EXPECT_EQ(qelterm::choosePort("relative/name").number, 0);
}

}  // namespace
