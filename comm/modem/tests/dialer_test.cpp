// The dialer against a scripted modem on a pseudo-terminal, and hang-up
// on the loopback double, whose far end drives the carrier line.
#include "engine_fixture.h"
#include "qelcomm_modem.h"
#include "scripted_modem.h"

#include <QTimer>

using namespace enginetest;
using modemtest::Clock;
using qelcomm::resolve;

namespace {

long msSince(Clock::time_point start)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class DialerTest : public EngineTest {
protected:
    QcHandle openModem()
    {
        QcHandle o = newObject();
        openOnPty(o);
        m_modem = std::make_unique<modemtest::ScriptedModem>(m_pty->master());
        return o;
    }
    void TearDown() override
    {
        m_modem.reset();
        EngineTest::TearDown();
    }
    std::unique_ptr<modemtest::ScriptedModem> m_modem;
};

TEST_F(DialerTest, DialSendsThePrefixNumberAndCrAndClassifiesTheAnswer)
{
    QcHandle o = openModem();
    const std::pair<const char*, int> cases[] = {
        {"BUSY", Dial_Busy}, {"CONNECT 9600", Dial_Connected}, {"NO CARRIER", Dial_NoCarrier},
        {"NO DIALTONE", Dial_NoDialTone}};
    for (const auto& [reply, result] : cases) {
        m_modem->answerDial("123", reply);
        EXPECT_EQ(Dial(o, "123"), result) << reply;
    }
    EXPECT_TRUE(m_modem->waitFor("ATDT123\r", 1000));
    SetDialMode(o, Dial_Pulse);
    EXPECT_EQ(Dial(o, "123"), Dial_NoDialTone);
    EXPECT_TRUE(m_modem->waitFor("ATDP123\r", 1000));
    EXPECT_EQ(GetLookUpTimeOut(o), 10000u);   // restored after every dial
}

TEST_F(DialerTest, SilenceGivesTimeOutAndACarriageReturnAfterIt)
{
    QcHandle o = openModem();
    SetDialTimeOut(o, 1200);
    const auto start = Clock::now();
    char result[32] = "x";
    qelbasDial(o, "555", result);
    EXPECT_STREQ(result, "Time Out");
    EXPECT_GE(msSince(start), 1100);
    EXPECT_TRUE(m_modem->waitFor("ATDT555\r\r", 1000));
    EXPECT_EQ(GetLookUpTimeOut(o), 10000u);
}

TEST_F(DialerTest, HangUpFromAnEventHandlerCancelsTheDial)
{
    QcHandle o = openModem();
    SetDialTimeOut(o, 20000);
    SetSThreshold(o, 1);   // an idle output queue raises the send event on every tick
    int hangUps = 0, hangUpResult = 0;
    g_onEvent = [&](QcHandle obj, int code) {
        if (code == qelcomm::Event_Send && m_modem->dialSeen() && hangUps++ == 0)
            hangUpResult = HangUp(obj);
    };
    const auto start = Clock::now();
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
    EXPECT_EQ(InitModemForAnswer(o), 1);
    EXPECT_TRUE(m_modem->waitFor("ATZ\rATS0=1\r", 1000));   // init first, then answer mode
    EXPECT_GE(m_modem->gapBetween('T', 'Z'), 900);
}

// An OK, an error, silence: a modem that says nothing is not ready.
TEST_F(DialerTest, OnlyAnOkCountsAsReady)
{
    QcHandle o = openModem();
    EXPECT_EQ(CheckModem(o), 1);
    m_modem->answerCommands("ERROR");
    EXPECT_EQ(CheckModem(o), 0);
    m_modem->answerCommands("");
    const auto start = Clock::now();
    EXPECT_EQ(InitModem(o), 0);
    EXPECT_GE(msSince(start), 7500);
    EXPECT_EQ(GetLookUpTimeOut(o), 10000u);
}

// A null-modem cable has no commands: nothing is sent, nothing waited for,
// and dialing finds the line connected as it is.
TEST_F(DialerTest, EntryWithoutCommandsNeitherWaitsNorDials)
{
    QcHandle o = openModem();
    SetModemOptions(o, "Null Modem Cable\t\t\t\t\t\t115200");
    SetDialTimeOut(o, 20000);
    const auto start = Clock::now();
    EXPECT_EQ(InitModem(o), 1);
    EXPECT_EQ(InitModemForAnswer(o), 1);
    EXPECT_EQ(Dial(o, "123"), Dial_Connected);
    SetDialMode(o, Dial_Pulse);
    EXPECT_EQ(Dial(o, "123"), Dial_Connected);
    EXPECT_LT(msSince(start), 2000);
    EXPECT_FALSE(m_modem->waitFor("1", 300));
    EXPECT_EQ(m_modem->received(), "");
}

// The loopback's far end: its DTR is the object's carrier. It may drop
// the carrier when the object drops DTR, and answers "ATH0" with OK.
class FarModem {
public:
    FarModem(serial::Handle far, bool dropsOnDtr) : m_far(far), m_drops(dropsOnDtr)
    {
        serial::EscapeCommFunction(m_far, serial::SETDTR);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(10);
    }
    std::string received;

private:
    void poll()
    {
        std::uint32_t status = 0, got = 0, errors = 0;
        if (m_drops && serial::GetCommModemStatus(m_far, &status) && !(status & serial::MS_RLSD_ON))
            serial::EscapeCommFunction(m_far, serial::CLRDTR);
        char buf[64];
        serial::COMSTAT stat;
        if (serial::ClearCommError(m_far, &errors, &stat) && stat.cbInQue > 0 &&
            serial::ReadFile(m_far, buf, std::min<std::uint32_t>(stat.cbInQue, sizeof buf), &got))
            received.append(buf, got);
        if (received.find("ATH0\r") != std::string::npos && !std::exchange(m_answered, true))
            serial::WriteFile(m_far, "\r\nOK\r\n", 6, &got);
    }
    serial::Handle m_far;
    bool m_drops, m_answered = false;
    QTimer m_timer;
};

TEST_F(DialerTest, HangUpFollowsTheCarrier)
{
    QcHandle o = newObject();
    serial::Handle far = openOnLoopback(o);
    EXPECT_EQ(HangUp(o), 1);   // no carrier: nothing to do
    EXPECT_EQ(Disconnect(o), 1);
    {   // Dropping DTR ends the call; no command is needed.
        FarModem modem(far, true);
        ASSERT_TRUE(pumpUntil([&] { return GetCarrier(o) != 0; }, 1000));
        EXPECT_EQ(HangUp(o), 1);
        EXPECT_EQ(GetCarrier(o), 0);
        EXPECT_EQ(modem.received, "");
        EXPECT_TRUE(serial::loopback::state(loopName(21)).dtr);   // raised again
    }
    {   // The carrier stays: the hang-up command goes out and OK ends it.
        FarModem modem(far, false);
        ASSERT_TRUE(pumpUntil([&] { return GetCarrier(o) != 0; }, 1000));
        EXPECT_EQ(HangUp(o), 1);
        EXPECT_NE(modem.received.find("+++ATH0\r"), std::string::npos);
        EXPECT_EQ(Disconnect(o), 0);   // sends the command too, but the carrier stays up
    }
}

}  // namespace
