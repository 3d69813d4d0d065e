// Line configuration and signals, on a pseudo-terminal and on the loopback
// double (for the modem lines and the driver fields a tty cannot show).
#include "engine_fixture.h"

using namespace enginetest;
namespace loopback = serial::loopback;

namespace {

class LineTest : public EngineTest {};

std::string settingsOf(QcHandle o)
{
    char buf[20] = {};
    GetSettings(o, buf);
    return buf;
}

TEST_F(LineTest, SettingsReachThePseudoTerminal)
{
    QcHandle o = newObject();
    openOnPty(o);
    EXPECT_EQ(SetSettings(o, "115200,e,7,2"), 0);
    EXPECT_EQ(settingsOf(o), "115200,e,7,2");
    // A pseudo-terminal always runs 8 data bits without parity, so only the
    // speed and stop bits show at the far end; the loopback tests cover the rest.
    auto line = m_pty->line();
    EXPECT_EQ(line.baud, 115200u);
    EXPECT_EQ(line.stopBits, 2);

    EXPECT_EQ(SetSettings(o, "250000,o,8,1"), 0);  // a rate without its own constant
    line = m_pty->line();
    EXPECT_EQ(line.baud, 250000u);
    EXPECT_EQ(line.stopBits, 1);

    SetHandshaking(o, qelcomm::Handshaking_Both);
    line = m_pty->line();
    EXPECT_TRUE(line.rtsCts);
    EXPECT_TRUE(line.xonXoff);
}

TEST_F(LineTest, RejectedSettingsAndRefusedSettingsLeaveTheLineAsItWas)
{
    QcHandle o = newObject();
    openOnPty(o);
    ASSERT_EQ(SetSettings(o, "19200,n,8,1"), 0);
    EXPECT_EQ(SetSettings(o, "9600,x,8,1"), qelcomm::kSettingsRejected);
    EXPECT_EQ(settingsOf(o), "19200,n,8,1");
    // Four data bits pass the grammar but the tty refuses them: the record
    // keeps the value, the line keeps its configuration.
    EXPECT_EQ(SetSettings(o, "9600,n,4,1"), 0);
    EXPECT_EQ(settingsOf(o), "9600,n,4,1");
    const auto line = m_pty->line();
    EXPECT_EQ(line.baud, 19200u);
    EXPECT_EQ(line.dataBits, 8);
}

TEST_F(LineTest, APortHeldByAnotherObjectDoesNotOpen)
{
    QcHandle first = newObject();
    openOnPty(first);
    QcHandle second = newObject();
    SetCommPort(second, 7);
    EXPECT_EQ(SetPortOpen(second, 1), 0);
    EXPECT_EQ(GetPortOpen(second), 0);
    SetPortOpen(first, 0);
    EXPECT_EQ(SetPortOpen(second, 1), 1);
}

TEST_F(LineTest, QueueSizesAreHandedOverUnchanged)
{
    QcHandle o = newObject();
    SetInBufferSize(o, 524288);
    SetOutBufferSize(o, 524288);
    openOnPty(o);
    std::uint32_t in = 0, out = 0;
    ASSERT_TRUE(serial::GetQueueSizes(GetCommID(o), &in, &out));
    EXPECT_EQ(in, 524288u);
    EXPECT_EQ(out, 524288u);
}

TEST_F(LineTest, DriverFieldsForEachHandshakingMode)
{
    QcHandle o = newObject();
    openOnLoopback(o);
    SetHandshaking(o, qelcomm::Handshaking_Both);
    auto dcb = loopback::state("COM21").dcb;
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    EXPECT_EQ(dcb.fRtsControl, serial::RTS_CONTROL_HANDSHAKE);
    EXPECT_TRUE(dcb.fOutX);
    EXPECT_TRUE(dcb.fInX);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_EQ(dcb.fDtrControl, serial::DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_EQ(dcb.EofChar, 26);
    EXPECT_EQ(dcb.EvtChar, '*');
    EXPECT_TRUE(dcb.fParity);       // parity replace -1 is not 0
    EXPECT_FALSE(dcb.fErrorChar);   // ... but means no replacement
    EXPECT_EQ(dcb.XonLim, 512);     // 2048 / 4
    EXPECT_EQ(dcb.XoffLim, 512);

    // While a file transfer runs, software flow control is off.
    qelcomm::resolve(o)->transferState = 1;
    SetHandshaking(o, qelcomm::Handshaking_Both);
    dcb = loopback::state("COM21").dcb;
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    qelcomm::resolve(o)->transferState = 0;

    SetHandshaking(o, qelcomm::Handshaking_XonXoff);
    dcb = loopback::state("COM21").dcb;
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_EQ(dcb.fRtsControl, serial::RTS_CONTROL_ENABLE);
    EXPECT_TRUE(dcb.fOutX);

    SetParityReplace(o, '?');
    SetDiscardNulls(o, 1);
    dcb = loopback::state("COM21").dcb;
    EXPECT_TRUE(dcb.fErrorChar);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_TRUE(dcb.fNull);
    SetParityReplace(o, 0);
    EXPECT_FALSE(loopback::state("COM21").dcb.fParity);  // only the flat interface can switch it off
    SetParityReplace(o, -7);
    EXPECT_EQ(GetParityReplace(o), -1);
}

TEST_F(LineTest, XonXoffLimitsFollowTheInputBuffer)
{
    QcHandle o = newObject();
    SetInBufferSize(o, 524288);
    openOnLoopback(o);
    const auto dcb = loopback::state("COM21").dcb;
    EXPECT_EQ(dcb.XonLim, 8192);
    EXPECT_EQ(dcb.XoffLim, 8192);
}

TEST_F(LineTest, NullDiscardWaitsForTheNextApply)
{
    QcHandle o = newObject();
    openOnLoopback(o);
    SetNullDiscard(o, 1);
    EXPECT_EQ(GetDiscardNulls(o), 1);
    EXPECT_FALSE(loopback::state("COM21").dcb.fNull);
    SetHandshaking(o, 0);
    EXPECT_TRUE(loopback::state("COM21").dcb.fNull);
}

TEST_F(LineTest, ARefusedConfigurationKeepsTheRecordsValues)
{
    QcHandle o = newObject();
    openOnLoopback(o);
    loopback::refuseConfiguration("COM21", true);
    EXPECT_EQ(SetSettings(o, "57600,e,7,2"), 0);
    EXPECT_EQ(settingsOf(o), "57600,e,7,2");
    EXPECT_EQ(loopback::state("COM21").dcb.BaudRate, 9600u);
}

TEST_F(LineTest, OpeningRaisesDtrAndRtsWhateverTheFlagsSay)
{
    QcHandle o = newObject();
    SetRTS(o, 0);
    SetDTR(o, 0);
    EXPECT_EQ(GetRTS(o), 0);
    EXPECT_EQ(GetDTR(o), 0);
    serial::Handle far = openOnLoopback(o);
    auto line = loopback::state("COM21");
    EXPECT_TRUE(line.dtr);
    EXPECT_TRUE(line.rts);
    std::uint32_t farStatus = 0;
    serial::GetCommModemStatus(far, &farStatus);
    EXPECT_TRUE(farStatus & serial::MS_DSR_ON);
    EXPECT_TRUE(farStatus & serial::MS_CTS_ON);

    SetDTR(o, 0);
    EXPECT_FALSE(loopback::state("COM21").dtr);
    SetRTS(o, 0);
    EXPECT_FALSE(loopback::state("COM21").rts);
    // Any apply raises both again.
    SetCTSTimeOut(o, 100);
    line = loopback::state("COM21");
    EXPECT_TRUE(line.dtr);
    EXPECT_TRUE(line.rts);
    EXPECT_EQ(GetCTSTimeOut(o), 100u);
    // With hardware handshaking RTS is the driver's, not raised by hand.
    SetHandshaking(o, qelcomm::Handshaking_Hardware);
    EXPECT_EQ(loopback::state("COM21").dcb.fRtsControl, serial::RTS_CONTROL_HANDSHAKE);

    SetPortOpen(o, 0);
    EXPECT_FALSE(loopback::state("COM21").dtr);  // closing drops DTR
}

TEST_F(LineTest, InputLinesFollowTheFarEnd)
{
    QcHandle o = newObject();
    EXPECT_EQ(GetCarrier(o), 0);  // closed: no driver call
    serial::Handle far = openOnLoopback(o);
    serial::EscapeCommFunction(far, serial::CLRDTR);
    serial::EscapeCommFunction(far, serial::CLRRTS);
    EXPECT_EQ(GetCTS(o), 0);
    EXPECT_EQ(GetDSR(o), 0);
    EXPECT_EQ(GetCarrier(o), 0);
    serial::EscapeCommFunction(far, serial::SETRTS);
    EXPECT_EQ(GetCTS(o), -1);
    serial::EscapeCommFunction(far, serial::SETDTR);
    EXPECT_EQ(GetDSR(o), -1);
    EXPECT_EQ(GetCarrier(o), -1);
}

TEST_F(LineTest, BreakSignalAndItsOddReadBack)
{
    QcHandle o = newObject();
    SetBreak(o, 1);  // closed: nothing
    openOnLoopback(o);
    EXPECT_FALSE(loopback::state("COM21").breakOn);
    SetBreak(o, 1);
    EXPECT_TRUE(loopback::state("COM21").breakOn);
    // A normal open does not set the event mask, so the break reads false.
    EXPECT_EQ(GetBreak(o), 0);
    SetBreak(o, 0);
    EXPECT_FALSE(loopback::state("COM21").breakOn);
}

TEST_F(LineTest, AnOpenWhoseApplyFailsStillOpensWithTheEventMask)
{
    serial::loopback::createPair("COM22", "FAR22");
    loopback::refuseConfiguration("COM22", true);
    QcHandle o = newObject();
    SetCommPort(o, 22);
    EXPECT_EQ(SetPortOpen(o, 1), 1);
    EXPECT_EQ(loopback::state("COM22").eventMask, qelcomm::kOpenEventMask);
    EXPECT_EQ(GetBreak(o), -1);
}

}  // namespace
