// The control's commands: new, open, save, save as, copy, paste, connect,
// disconnect, send and receive a file, properties and font. Each command
// first asks the container through the Command event; the ones that need a
// window (file dialogs, the transfer choice, the terminal view's clipboard,
// property and font dialogs) go through a CommandUi that a widgets library
// installs, so the control itself stays free of Qt Widgets.
//
// Project files (".sco") are INI files with one section "Comm" holding the
// keys Settings, Port, Protocol and PhoneNumber, and Modem (the entry of the
// modem list that dials; a file without it leaves the modem as it is).
#pragma once

#include "qel_comm.h"

#include <cstdint>
#include <string>

namespace qelcomm::control {

enum CommCommand : std::int32_t {
    CommCommand_New = 1,
    CommCommand_Open = 2,
    CommCommand_Save = 3,
    CommCommand_SaveAs = 4,
    CommCommand_Copy = 5,
    CommCommand_Paste = 6,
    CommCommand_Connect = 7,
    CommCommand_Disconnect = 8,
    CommCommand_SendFile = 9,
    CommCommand_ReceiveFile = 10,
    CommCommand_Properties = 11,
    CommCommand_Font = 12,
};

// A command value whose high word is this marker runs the command in its
// low word without asking the container (the control's own toolbar uses it
// after it has asked).
inline constexpr std::uint32_t kCommandNoEvent = 65535;
inline constexpr std::int32_t withoutCommandEvent(std::int32_t command)
{
    return static_cast<std::int32_t>((kCommandNoEvent << 16) | (std::uint32_t(command) & 0xFFFF));
}

// Texts of the project file dialogs.
inline constexpr const char* kProjectDialogTitle = "Qel Comm Objects";
inline constexpr const char* kProjectFilter = "Communications Files (*.sco)";
inline constexpr const char* kAllFilesFilter = "All Files (*.*)";
inline constexpr const char* kProjectExtension = "sco";

// Project file section, keys and the values of missing keys.
inline constexpr const char* kProjectSection = "Comm";
inline constexpr const char* kDefaultProjectSettings = "19200,n,8,1";
inline constexpr std::int32_t kDefaultProjectPort = 1;
inline constexpr std::int32_t kDefaultProjectProtocol = 5;   // ZModem

class CommandUi {
public:
    virtual ~CommandUi() = default;
    // Asks for a project file to open (save false: it must exist) or to save
    // to, starting at initial; false when the user cancels.
    virtual bool chooseProjectFile(CQelComm& c, bool save, const std::string& initial, std::string& chosen) = 0;
    // Asks for a transfer protocol (starting at protocol) and a file; false
    // when the user cancels. For a receive the file may be a folder or empty.
    virtual bool chooseTransfer(CQelComm& c, bool sending, std::int32_t& protocol, std::string& file) = 0;
    virtual void copy(CQelComm& c) = 0;
    virtual void paste(CQelComm& c) = 0;
    virtual void properties(CQelComm& c) = 0;
    virtual void font(CQelComm& c) = 0;
    // The connection changed (connect, disconnect, project opened).
    virtual void statusChanged(CQelComm&) {}
};

// The one window-side helper of every control in the process (null: the
// commands that need a window do nothing).
QELCOMM_CONTROL_API void SetCommandUi(CommandUi* ui);
QELCOMM_CONTROL_API CommandUi* GetCommandUi();

// Runs a command as DoCommand does. Fails with "Invalid procedure call" for
// a number that is not a command; a command the container cancels, or one
// whose dialog the user cancels, ends without change and succeeds.
QELCOMM_CONTROL_API ErrorInfo RunCommand(CQelComm& c, std::int32_t command);

// Reads a project file into the control: ProjectFilename, then Settings,
// CommPort, XferProtocol, ProjectPhoneNumber and (when present) ModemIndex
// through the properties.
QELCOMM_CONTROL_API void ReadProject(CQelComm& c, const std::string& file);
// Writes the control's project keys; false when the file cannot be written.
QELCOMM_CONTROL_API bool WriteProject(CQelComm& c, const std::string& file);

}  // namespace qelcomm::control
