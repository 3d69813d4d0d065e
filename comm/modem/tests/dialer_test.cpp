// The dialer against a scripted modem on a pseudo-terminal, and hang-up
// on the loopback double, whose far end drives the carrier line.
#include "engine_fixture.h"
#include "qelcomm_modem.h"
#include "scripted_modem.h"

#include <QTimer>

#include <chrono>
#include <memory>

using namespace enginetest;
using modemtest::ScriptedModem;
using qelcomm::resolve;
using qelcomm::Event_Send;

namespace {

class DialerTest : public EngineTest {
protected:
    QcHandle openModem()
    {
        QcHandle o = newObject();
        openOnPty(o);
        m_modem = std::make_unique<ScriptedModem>(m_pty->master());
        return o;
    }
    void TearDown() override
    {
        m_modem.reset();
        EngineTest::TearDown();
    }
    std::unique_ptr<ScriptedModem> m_modem;
};

long msSince(std::chrono::steady_clock::time_point start)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                    .count());
}

TEST_F(DialerTest, DialSendsToneCommandAndClassifiesEachAnswer)
{
    QcHandle o = openModem();
    const struct {
        const char* number;
        const char* reply;
        int result;
    } cases[] = {{"123", "BUSY", Dial_Busy},
                 {"200", "CONNECT 9600", Dial_Connected},
                 {"300", "NO CARRIER", Dial_NoCarrier},
                 {"400", "NO DIALTONE", Dial_NoDialTone}};
    for (const auto& c : cases)
        m_modem->answerDial(c.number, c.reply);
    for (const auto& c : cases) {
        EXPECT_EQ(Dial(o, c.number), c.result) << c.number;
        EXPECT_TRUE(m_modem->waitFor(std::string("ATDT") + c.number + "\r", 1000)) << c.number;
    }
    EXPECT_EQ(GetLookUpTimeOut(o), 10000u);   // restored after every dial
    EXPECT_EQ(resolve(o)->dialing, 0);
}

TEST_F(DialerTest, PulseModeSendsThePulsePrefix)
{
    QcHandle o = openModem();
    m_modem->answerDial("77", "CONNECT 2400");
    SetDialMode(o, Dial_Pulse);
    EXPECT_EQ(GetDialMode(o), Dial_Pulse);
    EXPECT_EQ(Dial(o, "77"), Dial_Connected);
    EXPECT_TRUE(m_modem->waitFor("ATDP77\r", 1000));
}

TEST_F(DialerTest, SilenceGivesTimeOutAndACarriageReturnAfterIt)
{
    QcHandle o = openModem();
    SetDialTimeOut(o, 1200);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Dial(o, "555"), Dial_TimeOut);
    EXPECT_GE(msSince(start), 1100);
    EXPECT_TRUE(m_modem->waitFor("ATDT555\r\r", 1000));
    EXPECT_EQ(GetLookUpTimeOut(o), 10000u);

    char result[32] = "x";
    qelbasDial(o, "555", result);
    EXPECT_STREQ(result, "Time Out");
}

TEST_F(DialerTest, HangUpFromAnEventHandlerCancelsTheDial)
{
    QcHandle o = openModem();
    SetDialTimeOut(o, 20000);
    int hangUps = 0, hangUpResult = 0;
    // An idle output queue raises the send event on every tick.
    SetSThreshold(o, 1);
    g_onEvent = [&](QcHandle obj, int code) {
        if (code == Event_Send && m_modem->dialSeen() && hangUps++ == 0)
            hangUpResult = HangUp(obj);
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Dial(o, "600"), Dial_Canceled);
    EXPECT_LT(msSince(start), 10000);
    EXPECT_EQ(hangUpResult, 1);
    EXPECT_EQ(resolve(o)->dialCancel, 0);
    EXPECT_EQ(resolve(o)->dialing, 0);
    EXPECT_TRUE(m_modem->waitFor("ATDT600\r\r", 1000));
}

TEST_F(DialerTest, CommandsKeepTheirPausesAndControlCharacters)
{
    QcHandle o = openModem();
    SetModemOptions(o, "Test\tAT~Z^M\tATDT\tATDP\tATS0=1^M\tATH^M\t9600");
    EXPECT_EQ(InitModem(o), 1);
    EXPECT_TRUE(m_modem->waitFor("ATZ\r", 1000));
    EXPECT_GE(m_modem->gapBetween('T', 'Z'), 900);
}

// Silence, an error and an OK; a modem that says nothing is not ready.
TEST_F(DialerTest, OnlyAnOkCountsAsReady)
{
    QcHandle o = openModem();
    EXPECT_EQ(CheckModem(o), 1);
    m_modem->answerCommands("ERROR");
    EXPECT_EQ(CheckModem(o), 0);
    EXPECT_EQ(InitModemForAnswer(o), 0);
    m_modem->answerCommands("");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InitModem(o), 0);
    EXPECT_GE(msSince(start), 7500);
    EXPECT_EQ(GetLookUpTimeOut(o), 10000u);
}

TEST_F(DialerTest, AnswerModeSendsInitThenAnswerCommand)
{
    QcHandle o = openModem();
    EXPECT_EQ(InitModemForAnswer(o), 1);
    EXPECT_TRUE(m_modem->waitFor("ATX4E1V1S7=60&C1\r", 1000));
    EXPECT_TRUE(m_modem->waitFor("ATS0=2\r", 1000));
    EXPECT_LT(m_modem->received().find("ATX4"), m_modem->received().find("ATS0=2"));
}

// The far end of the loopback: its DTR is the object's carrier. It can
// drop the carrier when the object drops DTR, and answer the hang-up
// command with OK.
class FarModem {
public:
    FarModem(serial::Handle far, bool dropsOnDtr) : m_far(far), m_dropsOnDtr(dropsOnDtr)
    {
        serial::EscapeCommFunction(m_far, serial::SETDTR);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(10);
    }
    std::string received;

private:
    void poll()
    {
        std::uint32_t status = 0;
        if (m_dropsOnDtr && serial::GetCommModemStatus(m_far, &status) && !(status & serial::MS_RLSD_ON))
            serial::EscapeCommFunction(m_far, serial::CLRDTR);
        char buffer[64];
        std::uint32_t got = 0;
        serial::COMSTAT stat;
        std::uint32_t errors = 0;
        if (serial::ClearCommError(m_far, &errors, &stat) && stat.cbInQue > 0 &&
            serial::ReadFile(m_far, buffer, std::min<std::uint32_t>(stat.cbInQue, sizeof buffer), &got))
            received.append(buffer, got);
        if (received.find("ATH0\r") != std::string::npos && !m_answered) {
            m_answered = true;
            std::uint32_t written = 0;
            serial::WriteFile(m_far, "\r\nOK\r\n", 6, &written);
        }
    }
    serial::Handle m_far;
    bool m_dropsOnDtr;
    bool m_answered = false;
    QTimer m_timer;
};

TEST_F(DialerTest, HangUpFollowsTheCarrier)
{
    QcHandle o = newObject();
    serial::Handle far = openOnLoopback(o);

    // No carrier: nothing to do.
    EXPECT_EQ(HangUp(o), 1);
    EXPECT_EQ(Disconnect(o), 1);

    {   // Dropping DTR ends the call; no command is needed.
        FarModem modem(far, true);
        ASSERT_TRUE(pumpUntil([&] { return GetCarrier(o) != 0; }, 1000));
        EXPECT_EQ(HangUp(o), 1);
        EXPECT_EQ(GetCarrier(o), 0);
        EXPECT_EQ(modem.received.find("ATH0"), std::string::npos);
        EXPECT_NE(GetDTR(o), 0);
        EXPECT_TRUE(serial::loopback::state(loopName(21)).dtr);   // raised again
    }
    {   // The carrier stays: the hang-up command goes out and OK ends it.
        FarModem modem(far, false);
        ASSERT_TRUE(pumpUntil([&] { return GetCarrier(o) != 0; }, 1000));
        EXPECT_EQ(HangUp(o), 1);
        EXPECT_NE(modem.received.find("+++ATH0\r"), std::string::npos);
        // Disconnect sends the command too but reports the carrier still up.
        EXPECT_EQ(Disconnect(o), 0);
    }
}

}  // namespace
