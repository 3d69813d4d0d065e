// The control's commands and project files, through real files and a
// scripted window side.
#include "control_fixture.h"
#include "qel_comm_commands.h"
#include "scripted_modem.h"
#include "temp_dir.h"
#include "transfer_engine.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace controltest {
namespace {

using lt::automation::Args;
using lt::automation::Variant;

// Answers the file dialogs as told and records what was asked.
class ScriptedUi : public CommandUi {
public:
    bool chooseProjectFile(CQelComm&, bool save, const std::string& initial, std::string& chosen) override
    {
        asked.push_back({save, initial});
        if (answer.empty())
            return false;
        chosen = answer;
        return true;
    }
    bool chooseTransfer(CQelComm&, bool sending, std::int32_t& protocol, std::string& file) override
    {
        transferAsked.push_back({sending, protocol});
        if (transferFile.empty())
            return false;
        protocol = transferProtocol;
        file = transferFile;
        return true;
    }
    void copy(CQelComm&) override {}
    void paste(CQelComm&) override {}
    void properties(CQelComm&) override {}
    void font(CQelComm&) override {}
    void statusChanged(CQelComm&) override { ++statusChanges; }

    struct Ask {
        bool save;
        std::string initial;
    };
    std::vector<Ask> asked;
    std::string answer;   // empty: the user cancels
    std::vector<std::pair<bool, std::int32_t>> transferAsked;
    std::string transferFile;   // empty: the user cancels
    std::int32_t transferProtocol = 0;
    int statusChanges = 0;
};

// Cancels the commands it is told to, and counts the Command events.
class CommandSink : public lt::automation::EventSink {
public:
    void onEvent(std::int32_t dispid, Args& args) override
    {
        if (dispid != EventId::Command)
            return;
        commands.push_back(args[0]->toInt32().value_or(0));
        if (cancel)
            *args[1] = Variant::fromBool(true);
    }
    std::vector<std::int32_t> commands;
    bool cancel = false;
};

std::string readAll(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

class CommandsTest : public ControlTest {
protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        SetCommandUi(&m_ui);
        m_control->Events().connect(&m_commands);
    }
    void TearDown() override
    {
        SetCommandUi(nullptr);
        ControlTest::TearDown();
    }
    ErrorInfo doCommand(std::int32_t command)
    {
        Variant number(command), result;
        Args args{&number};
        return m_control->Dispatch().invoke(MemberId::DoCommand, args, result);
    }
    std::string stored(std::int32_t dispid)
    {
        Variant v;
        m_control->Dispatch().get(dispid, v);
        return v.toString();
    }

    ScriptedUi m_ui;
    CommandSink m_commands;
    testsupport::TempDir m_dir;
};

TEST_F(CommandsTest, ProjectWithOnlyTheSectionGivesTheDefaults)
{
    m_control->SetSettings("2400,e,7,2");
    m_control->SetCommPort(4);
    m_control->Dispatch().put(MemberId::XferProtocol, Variant(std::int32_t(2)));
    m_control->Dispatch().put(MemberId::ProjectPhoneNumber, Variant("555"));
    m_control->Dispatch().put(MemberId::ModemIndex, Variant(std::int32_t(3)));
    const std::string file = m_dir.file("empty.sco");
    writeFile(file, "[Comm]\r\n");
    m_ui.answer = file;

    ASSERT_FALSE(doCommand(CommCommand_Open).failed());
    ASSERT_EQ(m_ui.asked.size(), 1u);
    EXPECT_FALSE(m_ui.asked[0].save);
    EXPECT_EQ(m_control->Settings(), "19200,n,8,1");
    EXPECT_EQ(m_control->CommPort(), 1);
    EXPECT_EQ(stored(MemberId::XferProtocol), "5");
    EXPECT_EQ(stored(MemberId::ProjectPhoneNumber), "");
    EXPECT_EQ(stored(MemberId::ProjectFilename), file);
    EXPECT_EQ(stored(MemberId::ModemIndex), "3") << "a file without a modem keeps the modem";
    EXPECT_EQ(m_commands.commands, std::vector<std::int32_t>{CommCommand_Open});
}

TEST_F(CommandsTest, SavedProjectOpensAgainWithTheSameValuesAndKeysInOrder)
{
    m_control->SetSettings("4800,o,7,2");
    m_control->SetCommPort(12);
    m_control->Dispatch().put(MemberId::XferProtocol, Variant(std::int32_t(3)));
    m_control->Dispatch().put(MemberId::ProjectPhoneNumber, Variant("0123,456"));
    m_control->Dispatch().put(MemberId::ModemIndex, Variant(std::int32_t(2)));
    const std::string file = m_dir.file("line.sco");
    m_ui.answer = file;
    ASSERT_FALSE(doCommand(CommCommand_SaveAs).failed());
    EXPECT_EQ(readAll(file),
              "[Comm]\r\nSettings=4800,o,7,2\r\nPhoneNumber=0123,456\r\nPort=12\r\nProtocol=3\r\nModem=2\r\n");

    CQelComm other;
    ReadProject(other, file);
    EXPECT_EQ(other.Settings(), "4800,o,7,2");
    EXPECT_EQ(other.CommPort(), 12);
    Variant v;
    other.Dispatch().get(MemberId::XferProtocol, v);
    EXPECT_EQ(v.toInt32(), 3);
    other.Dispatch().get(MemberId::ProjectPhoneNumber, v);
    EXPECT_EQ(v.toString(), "0123,456");
    other.Dispatch().get(MemberId::ModemIndex, v);
    EXPECT_EQ(v.toInt32(), 2);
    other.Dispatch().get(MemberId::ModemTitle, v);
    EXPECT_EQ(v.toString(), "Hayes V.90 56K");
}

TEST_F(CommandsTest, MalformedSettingsInAProjectKeepThePreviousOnes)
{
    m_control->SetSettings("1200,n,8,1");
    const std::string file = m_dir.file("bad.sco");
    writeFile(file, "[Comm]\r\nSettings=fast please\r\nPort=3\r\n");
    ReadProject(*m_control, file);
    EXPECT_EQ(m_control->Settings(), "1200,n,8,1");
    EXPECT_EQ(m_control->CommPort(), 3);
}

TEST_F(CommandsTest, SaveWithoutANameAsksAndACancelWritesNothing)
{
    ASSERT_FALSE(doCommand(CommCommand_Save).failed());
    ASSERT_EQ(m_ui.asked.size(), 1u);
    EXPECT_TRUE(m_ui.asked[0].save);
    EXPECT_TRUE(QDir(QString::fromStdString(m_dir.path())).isEmpty());
    EXPECT_EQ(stored(MemberId::ProjectFilename), "");

    // Confirmed, the name is kept and the next Save asks no more.
    const std::string file = m_dir.file("kept.sco");
    m_ui.answer = file;
    doCommand(CommCommand_Save);
    EXPECT_EQ(stored(MemberId::ProjectFilename), file);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(file)));
    m_control->SetCommPort(6);
    doCommand(CommCommand_Save);
    EXPECT_EQ(m_ui.asked.size(), 2u);
    EXPECT_NE(readAll(file).find("Port=6\r\n"), std::string::npos);
    // Save As starts from the current name.
    m_ui.answer.clear();
    doCommand(CommCommand_SaveAs);
    ASSERT_EQ(m_ui.asked.size(), 3u);
    EXPECT_EQ(m_ui.asked[2].initial, file);
}

TEST_F(CommandsTest, CancelledOpenChangesNothing)
{
    m_control->SetSettings("2400,n,8,1");
    doCommand(CommCommand_Open);
    EXPECT_EQ(m_control->Settings(), "2400,n,8,1");
    EXPECT_EQ(stored(MemberId::ProjectFilename), "");
}

TEST_F(CommandsTest, ContainerCancellingConnectLeavesThePortClosed)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(7, pty.slavePath());
    m_control->SetCommPort(7);

    m_commands.cancel = true;
    ASSERT_FALSE(doCommand(CommCommand_Connect).failed());
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_EQ(m_commands.commands, std::vector<std::int32_t>{CommCommand_Connect});

    // Run without asking, the same command opens the port and keeps AutoProcess.
    m_control->SetAutoProcess(2);
    ASSERT_FALSE(doCommand(withoutCommandEvent(CommCommand_Connect)).failed());
    EXPECT_TRUE(m_control->PortOpen());
    EXPECT_EQ(m_control->AutoProcess(), 2);
    EXPECT_EQ(m_commands.commands.size(), 1u);
    EXPECT_GE(m_ui.statusChanges, 1);

    m_commands.cancel = false;
    doCommand(CommCommand_Disconnect);
    EXPECT_FALSE(m_control->PortOpen());
}

TEST_F(CommandsTest, ConnectOnAnUnopenablePortLeavesItClosedWithoutAnError)
{
    testsupport::PortsMap ports;
    ports.map(9, m_dir.file("no-such-device"));
    m_control->SetCommPort(9);
    const ErrorInfo e = doCommand(CommCommand_Connect);
    EXPECT_FALSE(e.failed()) << e.description;
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_FALSE(m_control->LastError().failed());
}

TEST_F(CommandsTest, UnknownCommandNumbersAreRefusedWithoutAnEvent)
{
    EXPECT_TRUE(doCommand(0).failed());
    EXPECT_TRUE(doCommand(13).failed());
    EXPECT_TRUE(m_commands.commands.empty());
    Variant none, result;
    Args args;
    EXPECT_TRUE(m_control->Dispatch().invoke(MemberId::DoCommand, args, result).failed());
}

TEST_F(CommandsTest, ConnectWithAPhoneNumberDialsAndAFailedDialClosesThePort)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(7, pty.slavePath());
    modemtest::ScriptedModem modem(pty.master());
    modem.answerDial("200", "CONNECT 9600");
    modem.answerDial("201", "BUSY");
    m_control->SetCommPort(7);
    m_control->Dispatch().put(MemberId::DialStatusDialog, Variant(std::int32_t(0)));
    m_control->Dispatch().put(MemberId::DialTimeOut, Variant(std::int32_t(3000)));
    m_control->SetAutoProcess(3);

    m_control->Dispatch().put(MemberId::ProjectPhoneNumber, Variant("201"));
    doCommand(CommCommand_Connect);
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_EQ(stored(MemberId::Dial), "Busy");
    EXPECT_EQ(m_control->AutoProcess(), 3);

    m_control->Dispatch().put(MemberId::ProjectPhoneNumber, Variant("200"));
    doCommand(CommCommand_Connect);
    EXPECT_TRUE(m_control->PortOpen());
    EXPECT_EQ(stored(MemberId::Dial), "");
    EXPECT_NE(modem.received().find("ATDT200\r"), std::string::npos);

    // Disconnect hangs up and closes, so that Connect dials again.
    doCommand(CommCommand_Disconnect);
    EXPECT_FALSE(m_control->PortOpen());
    doCommand(CommCommand_Connect);
    EXPECT_TRUE(m_control->PortOpen());
    const std::string sent = modem.received();
    EXPECT_NE(sent.find("ATDT200\r"), sent.rfind("ATDT200\r"));   // dialled twice
}

TEST_F(CommandsTest, SendAFileStartsTheChosenProtocolAndReceivingMeanwhileIsRefused)
{
    openOnPty();
    doCommand(CommCommand_SendFile);   // cancelled: nothing starts
    ASSERT_EQ(m_ui.transferAsked.size(), 1u);
    EXPECT_EQ(m_ui.transferAsked[0], std::make_pair(true, std::int32_t(5)));
    EXPECT_EQ(::GetTransferType(m_control->Window()), 0);

    const std::string file = m_dir.file("out.bin");
    writeFile(file, std::string(300, 'x'));
    m_ui.transferFile = file;
    m_ui.transferProtocol = 1;   // XModem CRC
    m_control->Dispatch().put(MemberId::XferStatusDialog, Variant(std::int32_t(0)));
    EXPECT_FALSE(doCommand(CommCommand_SendFile).failed());
    EXPECT_EQ(stored(MemberId::XferProtocol), "1");
    EXPECT_EQ(::GetTransferType(m_control->Window()), 1);
    EXPECT_TRUE(doCommand(CommCommand_ReceiveFile).failed());

    m_control->Dispatch().put(MemberId::AbortTransfer, Variant::fromBool(true));
    EXPECT_TRUE(pumpUntil([&] { return ::GetTransferType(m_control->Window()) == 0; }, 15000));
}

TEST_F(CommandsTest, TheCommandEventIsTraced)
{
    testsupport::TempDir state;
    setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    m_control->SetAmbientDisplayName("Comm1");
    m_control->ApplyProperties();
    m_control->SetCommSpy(true);
    m_control->SetCommSpyEvents(true);
    doCommand(CommCommand_New);
    doCommand(withoutCommandEvent(CommCommand_Copy));
    m_control->SetCommSpy(false);
    const std::string log = readAll(state.file("qelcomm6/commspy.txt"));
    EXPECT_NE(log.find("Command"), std::string::npos) << log;
    EXPECT_NE(log.find("1, False"), std::string::npos) << log;
    EXPECT_EQ(log.find("5, False"), std::string::npos) << log;
}

}  // namespace
}  // namespace controltest
