// qelterm dial against a scripted modem on a pseudo-terminal: what it
// prints and the exit code for each outcome; the dial's command line.
#include "options.h"
#include "pty_pair.h"
#include "scripted_modem.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

struct Outcome {
    int code;
    std::string out;
};

Outcome dial(const QStringList& args)
{
    QProcess p;
    p.start(QELTERM_PATH, QStringList{"dial"} + args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return {-1, {}};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString()};
}

class DialProgram : public ::testing::Test {
protected:
    Outcome dialNumber(const QString& number, QStringList extra = {})
    {
        return dial(QStringList{"--port", QString::fromStdString(m_pty.slavePath()), "--timeout", "1500"} + extra +
                    QStringList{number});
    }
    testsupport::PtyPair m_pty;
    modemtest::ScriptedModem m_modem{m_pty.master()};
};

TEST_F(DialProgram, EachAnswerHasItsTextAndExitCode)
{
    m_modem.answerDial("100", "CONNECT 9600");
    m_modem.answerDial("101", "NO CARRIER");
    m_modem.answerDial("102", "NO DIALTONE");
    m_modem.answerDial("103", "BUSY");
    const struct {
        const char* number;
        int code;
        const char* text;
    } cases[] = {{"100", 0, "Connected\n"}, {"101", 1, "No carrier\n"}, {"102", 2, "No dialtone\n"},
                 {"103", 3, "Busy\n"},      {"104", 4, "Time out\n"}};
    for (const auto& c : cases) {
        const Outcome o = dialNumber(c.number);
        EXPECT_EQ(o.code, c.code) << c.number;
        EXPECT_EQ(o.out, c.text) << c.number;
    }
    // The init command went first, then the tone dial.
    const std::string sent = m_modem.received();
    EXPECT_NE(sent.find("ATDT100\r"), std::string::npos);
    EXPECT_LT(sent.find("AT"), sent.find("ATDT100"));
}

TEST_F(DialProgram, PulseDialAndAModemThatRefusesTheInit)
{
    m_modem.answerDial("55", "CONNECT 2400");
    const Outcome pulse = dialNumber("55", {"--pulse"});
    EXPECT_EQ(pulse.code, 0);
    EXPECT_NE(m_modem.received().find("ATDP55\r"), std::string::npos);

    m_modem.answerCommands("ERROR");
    const Outcome refused = dialNumber("55");
    EXPECT_EQ(refused.code, qelterm::kDialInitFailed);
    EXPECT_EQ(refused.out, "Modem did not answer\n");
}

// The shipped "Null Modem Cable" entry (5) has no commands: no OK is
// waited for, and the line is connected without dialing.
TEST_F(DialProgram, NullModemCableConnectsWithoutCommands)
{
    const Outcome o = dialNumber("123", {"--modem", "5"});
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.out, "Connected\n");
    EXPECT_EQ(m_modem.received(), "");
}

// Ctrl-C ends the dial as canceled (exit code 5), whether it comes while
// the number is dialed or while the modem is silent about its init.
TEST_F(DialProgram, CtrlCCancels)
{
    for (const bool duringDial : {true, false}) {
        SCOPED_TRACE(duringDial);
        m_modem.answerCommands(duringDial ? "OK" : "");
        const std::size_t before = m_modem.received().size();
        auto seen = [&](const std::string& text) {
            for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
                if (m_modem.received().find(text, before) != std::string::npos)
                    return true;
            return false;
        };
        QProcess p;
        p.start(QELTERM_PATH, {"dial", "--port", QString::fromStdString(m_pty.slavePath()), "--timeout", "20000", "99"});
        ASSERT_TRUE(p.waitForStarted(5000));
        // Interrupted once the modem has been asked: the dial seen, or the
        // init sent.
        ASSERT_TRUE(seen(duringDial ? "ATDT99\r" : "AT"));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(pid_t(p.processId()), SIGINT);
        ASSERT_TRUE(p.waitForFinished(5000)) << "Ctrl-C did not end the dial";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 5);
        EXPECT_EQ(p.readAllStandardOutput().toStdString(), "Canceled\n");
    }
}

TEST(DialCommandLine, UsageErrorsAndAPortThatDoesNotOpen)
{
    EXPECT_EQ(dial({"123"}).code, qelterm::kDialUsage);                           // no port
    EXPECT_EQ(dial({"--port", "COM3"}).code, qelterm::kDialUsage);                // no number
    EXPECT_EQ(dial({"--port", "COM3", "--modem", "x", "1"}).code, qelterm::kDialUsage);
    EXPECT_EQ(dial({"--port", "COM3", "--settings", "fast", "1"}).code, qelterm::kDialUsage);
    testsupport::PortsMap ports;
    ports.map(9, "/nonexistent/tty");
    EXPECT_EQ(dial({"--port", "COM9", "1"}).code, qelterm::kDialPortFailed);
    EXPECT_EQ(dial({"--port", "rfc2217://127.0.0.1:1", "1"}).code, qelterm::kDialPortFailed);

    const auto parsed = qelterm::parseOptions({"dial", "--port", "COM2", "--modem", "3", "--pulse", "--timeout",
                                               "2500", "--settings", "2400,n,8,1", "0,123"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->mode, qelterm::Options::Mode::Dial);
    EXPECT_EQ(parsed.options->modem, 3);
    EXPECT_TRUE(parsed.options->pulse);
    EXPECT_EQ(parsed.options->timeoutMs, 2500);
    EXPECT_EQ(parsed.options->settings, "2400,n,8,1");
    EXPECT_EQ(parsed.options->number, "0,123");
    const auto project = qelterm::parseOptions({"line.sco"});
    ASSERT_TRUE(project.options);
    EXPECT_EQ(project.options->project, "line.sco");
}

}  // namespace
