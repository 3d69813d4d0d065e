// qelterm render: the printed screen for captured bytes, and the program's
// exit codes as a user meets them.
#include "options.h"
#include "render.h"
#include "temp_dir.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <fstream>

using qelterm::Options;

namespace {

Options renderOptions(std::vector<std::string> args)
{
    args.insert(args.begin(), "render");
    args.push_back("-");
    auto parsed = qelterm::parseOptions(args);
    EXPECT_TRUE(parsed.options) << parsed.error;
    return parsed.options.value_or(Options{});
}

struct Result {
    int code;
    std::string out, err;
};

Result runProgram(const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(QELTERM_PATH, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return {-1, {}, {}};
    }
    return {p.exitCode(), p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

}  // namespace

TEST(Render, ScreenRowsAttributesAndCursor)
{
    const Options o = renderOptions({"--size", "6x2", "--attributes"});
    EXPECT_EQ(qelterm::renderScreen(o, "ab\x1b[1;31;44mc\r\n\x1b[0mxy"),
              "abc\nxy\n\n1f 1f 1c 1f 1f 1f\n07 07 1f 1f 1f 1f\ncursor 1 2\n");
    // A form feed and wrapping in a small screen; answers are dropped.
    EXPECT_EQ(qelterm::renderScreen(renderOptions({"--size", "3x2"}), "\x1b[6nabcdefg"),
              "def\ng\ncursor 1 1\n");
    EXPECT_EQ(qelterm::renderScreen(renderOptions({"--size", "3x2", "--eol", "donothing"}), "abcdefg"),
              "abc\n\ncursor 0 3\n");
    EXPECT_EQ(qelterm::renderScreen(renderOptions({"--size", "4x1", "--emulation", "vt52"}), "ab\x1b" "Dc"),
              "ac\ncursor 0 2\n");
    EXPECT_EQ(qelterm::renderScreen(renderOptions({"--size", "4x1", "--emulation", "tty"}), "\x1b[m"),
              "\x1b[m\ncursor 0 3\n");
}

TEST(Render, Utf8AndColoursByDefaultTheClassicOnRequest)
{
    // UTF-8 in, UTF-8 out; a wide character takes two cells.
    EXPECT_EQ(qelterm::renderScreen(renderOptions({"--size", "8x1"}), "\xE6\x97\xA5\xC3\xA9\xE2\x82!"),
              "\xE6\x97\xA5\xC3\xA9\xEF\xBF\xBD!\ncursor 0 5\n");
    // The PC code page: bytes in, the same bytes out.
    EXPECT_EQ(qelterm::renderScreen(renderOptions({"--size", "8x1", "--charset", "pc"}), "\xC4\xE9"),
              "\xC4\xE9\ncursor 0 2\n");
    // Underline is no bright colour, unless the 16 PC colours are asked for;
    // a 256-colour code is a colour, not a bright background.
    EXPECT_EQ(qelterm::renderScreen(renderOptions({"--size", "3x1", "--attributes"}), "\x1b[0;4ma\x1b[0;38;5;2mb"),
              "ab\n\n07 02 1f\ncursor 0 2\n");
    EXPECT_EQ(qelterm::renderScreen(renderOptions({"--size", "3x1", "--attributes", "--colors", "pc"}),
                                    "\x1b[0;4ma\x1b[0;38;5;2mb"),
              "ab\n\n0f 87 1f\ncursor 0 2\n");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"render", "--charset", "latin1", "f"}, {"render", "--colors", "256", "f"}, {"--charset"}})
        EXPECT_FALSE(qelterm::parseOptions(args).options) << args[1];
    const auto window = qelterm::parseOptions({"--size", "100x30", "--charset", "pc", "--colors", "pc"});
    ASSERT_TRUE(window.options);
    EXPECT_TRUE(window.options->fixedSize);
    EXPECT_EQ(window.options->columns, 100);
    EXPECT_EQ(window.options->charset, 0);
    EXPECT_EQ(window.options->rendition, 0);
    EXPECT_FALSE(qelterm::parseOptions({"--port", "COM2"}).options->fixedSize);
}

TEST(Render, BadCommandLines)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"render"}, {"render", "--size", "0x5", "f"}, {"render", "--size", "300x300", "f"},
             {"render", "--eol", "sideways", "f"}, {"render", "--emulation", "vt220", "f"},
             {"render", "--bogus", "f"}, {"render", "a", "b"}, {"--frobnicate"}, {"--port"}})
        EXPECT_FALSE(qelterm::parseOptions(args).options) << args.back();
    const auto window = qelterm::parseOptions({"--port", "/dev/ttyUSB0", "--emulation", "ansi"});
    ASSERT_TRUE(window.options);
    EXPECT_EQ(window.options->port, "/dev/ttyUSB0");
    EXPECT_EQ(window.options->emulation, 2);
    EXPECT_EQ(window.options->settings, "9600,n,8,1");
}

TEST(Render, ProgramExitCodes)
{
    testsupport::TempDir dir;
    const std::string file = dir.file("session.cap");
    std::ofstream(file, std::ios::binary) << "\x1b[2J\x1b[3;5Hhello";
    Result r = runProgram({"render", "--size", "10x3", QString::fromStdString(file)});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "\n\n    hello\ncursor 2 9\n");

    r = runProgram({"render", "--size", "5x1", "-"}, "piped");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "piped\ncursor 0 5\n");

    r = runProgram({"render", QString::fromStdString(dir.file("missing.cap"))});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

    r = runProgram({"render", QString::fromStdString(dir.path())});
    EXPECT_EQ(r.code, 2);
    r = runProgram({"render", "--size", "axb", "-"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

    r = runProgram({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("qelterm render"), std::string::npos);
}
