// The control's commands over its own properties, and the project files.
#include "qel_comm_commands.h"

#include "comm_spy.h"
#include "control_access.h"
#include "profile/profile.h"
#include "transfer_engine.h"

#include <atomic>

namespace qelcomm::control {
namespace {

using lt::automation::Args;
using lt::automation::Variant;
namespace M = MemberId;

std::atomic<CommandUi*> g_ui{nullptr};

// Text values of a project file are read through a buffer of this size.
constexpr std::uint32_t kProjectValueSize = 256;

ErrorInfo invalidCall()
{
    return ErrorInfo{lt::automation::kInvalidCall, 5, "Invalid procedure call or argument", kProgId};
}

Variant get(const CQelComm& c, std::int32_t dispid)
{
    Variant v;
    c.Dispatch().get(dispid, v);
    return v;
}

void put(CQelComm& c, std::int32_t dispid, const Variant& v) { c.Dispatch().put(dispid, v); }

}  // namespace

void SetCommandUi(CommandUi* ui) { g_ui = ui; }
CommandUi* GetCommandUi() { return g_ui.load(); }

void ReadProject(CQelComm& c, const std::string& file)
{
    using profile::getPrivateProfileInt;
    using profile::getPrivateProfileString;
    const std::string settings =
        getPrivateProfileString(kProjectSection, "Settings", kDefaultProjectSettings, file, kProjectValueSize);
    const int port = getPrivateProfileInt(kProjectSection, "Port", kDefaultProjectPort, file);
    const int protocol = getPrivateProfileInt(kProjectSection, "Protocol", kDefaultProjectProtocol, file);
    const std::string phone = getPrivateProfileString(kProjectSection, "PhoneNumber", "", file, kProjectValueSize);
    const int modem = getPrivateProfileInt(kProjectSection, "Modem", -1, file);
    // Each assignment has its usual effect; a malformed settings string or
    // an out-of-range port is refused by its property and changes nothing.
    put(c, M::ProjectFilename, Variant(file));
    put(c, M::Settings, Variant(settings));
    put(c, M::CommPort, Variant(std::int32_t(port)));
    put(c, M::XferProtocol, Variant(std::int32_t(protocol)));
    put(c, M::ProjectPhoneNumber, Variant(phone));
    // Files written before the modem was kept have no such key: the modem
    // stays as it is.
    if (modem >= 0)
        put(c, M::ModemIndex, Variant(std::int32_t(modem)));
}

bool WriteProject(CQelComm& c, const std::string& file)
{
    using profile::writePrivateProfileString;
    char settings[32] = {};
    ::GetSettings(c.Window(), settings);
    bool ok = writePrivateProfileString(kProjectSection, "Settings", settings, file);
    ok = writePrivateProfileString(kProjectSection, "PhoneNumber", get(c, M::ProjectPhoneNumber).toString(), file) && ok;
    ok = writePrivateProfileString(kProjectSection, "Port", std::to_string(c.CommPort()), file) && ok;
    ok = writePrivateProfileString(kProjectSection, "Protocol",
                                   std::to_string(get(c, M::XferProtocol).toInt32().value_or(0)), file) &&
         ok;
    ok = writePrivateProfileString(kProjectSection, "Modem", std::to_string(get(c, M::ModemIndex).toInt32().value_or(0)),
                                   file) &&
         ok;
    return ok;
}

namespace {

bool chooseFile(CQelComm& c, bool save, std::string& chosen)
{
    CommandUi* ui = g_ui.load();
    return ui && ui->chooseProjectFile(c, save, get(c, M::ProjectFilename).toString(), chosen);
}

void saveAs(CQelComm& c)
{
    std::string file;
    if (!chooseFile(c, true, file))
        return;
    put(c, M::ProjectFilename, Variant(file));
    WriteProject(c, file);
}

void statusChanged(CQelComm& c)
{
    if (CommandUi* ui = g_ui.load())
        ui->statusChanged(c);
}

void connect(CQelComm& c, const std::shared_ptr<bool>& alive)
{
    if (c.PortOpen())
        return;
    // The dial's answers must reach the dialer, not the terminal.
    const std::int32_t savedAutoProcess = c.AutoProcess();
    c.SetAutoProcess(0);
    const std::string phone = get(c, M::ProjectPhoneNumber).toString();
    put(c, M::PortOpen, Variant::fromBool(true));   // a failed open is no error
    if (!phone.empty() && c.PortOpen()) {
        put(c, M::Dial, Variant(phone));
        if (!*alive)
            return;
        if (!get(c, M::Dial).toString().empty())   // the dial failed
            put(c, M::PortOpen, Variant::fromBool(false));
    }
    c.SetAutoProcess(savedAutoProcess);
    statusChanged(c);
}

void disconnect(CQelComm& c, const std::shared_ptr<bool>& alive)
{
    if (!get(c, M::ProjectPhoneNumber).toString().empty()) {
        get(c, M::HangUp);
        if (!*alive)
            return;
    }
    // Closing also after a hang-up, so that the next Connect dials again.
    put(c, M::PortOpen, Variant::fromBool(false));
    statusChanged(c);
}

ErrorInfo transfer(CQelComm& c, bool sending)
{
    CommandUi* ui = g_ui.load();
    std::int32_t protocol = get(c, M::XferProtocol).toInt32().value_or(kDefaultProjectProtocol);
    std::string file;
    if (!ui || !ui->chooseTransfer(c, sending, protocol, file))
        return {};
    // The engine queues a file behind a transfer of the same direction but
    // takes none while one of the other direction runs.
    const std::int32_t direction = sending ? 1 : 2;
    if (const std::int32_t running = ::GetTransferType(c.Window()); running != 0 && running != direction)
        return ErrorInfo{lt::automation::kInvalidCall, 5,
                         sending ? "A file is being received; try again when it is done"
                                 : "A file is being sent; try again when it is done",
                         kProgId};
    put(c, M::XferProtocol, Variant(protocol));
    put(c, sending ? M::Upload : M::Download, Variant(file));
    return {};
}

}  // namespace

ErrorInfo RunCommand(CQelComm& c, std::int32_t value) { return ControlAccess::runCommand(c, value); }

ErrorInfo ControlAccess::runCommand(CQelComm& c, std::int32_t value)
{
    const std::uint32_t raw = static_cast<std::uint32_t>(value);
    const bool ask = (raw >> 16) != kCommandNoEvent;
    const std::int32_t command = ask ? value : std::int32_t(raw & 0xFFFF);
    if (command < CommCommand_New || command > CommCommand_Font)
        return invalidCall();
    auto alive = c.m_alive;
    if (ask) {
        if (c.CommSpy() && c.m_spyEvents && c.m_loadDepth <= 0 && c.m_ambientUserMode && !c.m_objectName.empty())
            CommSpyMsg(c.m_hObject, CommSpy_Events, "Command", std::to_string(command) + ", False");
        Variant number(command);
        Variant cancel = Variant::fromBool(false);
        Args args{&number, &cancel};
        c.m_events.fire(EventId::Command, args);
        if (!*alive || cancel.toBool())
            return {};
    }
    CommandUi* ui = g_ui.load();
    switch (command) {
    case CommCommand_New: break;
    case CommCommand_Open: {
        std::string file;
        if (chooseFile(c, false, file)) {
            ReadProject(c, file);
            statusChanged(c);
        }
        break;
    }
    case CommCommand_Save:
        if (get(c, M::ProjectFilename).toString().empty())
            saveAs(c);
        else
            WriteProject(c, get(c, M::ProjectFilename).toString());
        break;
    case CommCommand_SaveAs: saveAs(c); break;
    case CommCommand_Copy:
        if (ui)
            ui->copy(c);
        break;
    case CommCommand_Paste:
        if (ui)
            ui->paste(c);
        break;
    case CommCommand_Connect: connect(c, alive); break;
    case CommCommand_Disconnect: disconnect(c, alive); break;
    case CommCommand_SendFile: return transfer(c, true);
    case CommCommand_ReceiveFile: return transfer(c, false);
    case CommCommand_Properties:
        if (ui)
            ui->properties(c);
        break;
    case CommCommand_Font:
        if (ui)
            ui->font(c);
        break;
    }
    return {};
}

void ControlAccess::bindCommands(CQelComm& c)
{
    CQelComm* p = &c;
    c.m_dispatch.addMethod(M::DoCommand, "DoCommand", [p](Args& a, Variant&) {
        if (a.empty() || !a[0] || !a[0]->toInt32())
            return ErrorInfo{lt::automation::kTypeMismatch, 13, "Type mismatch", kProgId};
        auto alive = p->m_alive;
        const ErrorInfo e = runCommand(*p, *a[0]->toInt32());
        if (*alive)
            p->m_lastError = e;
        return e;
    });
}

}  // namespace qelcomm::control
