// The window side of the control's commands in qelterm: the project file
// dialogs, the transfer dialog, the terminal view's clipboard, the
// properties dialog and the font dialog.
#pragma once

#include "qel_comm_commands.h"

#include <functional>

class QWidget;

namespace qelcomm::terminal {
class TerminalView;
}

namespace qelterm {

class CommandDialogs : public qelcomm::control::CommandUi {
public:
    // parent owns the dialogs; view is the control's terminal view.
    CommandDialogs(QWidget* parent, qelcomm::terminal::TerminalView* view) : m_parent(parent), m_view(view) {}

    bool chooseProjectFile(qelcomm::control::CQelComm& c, bool save, const std::string& initial,
                           std::string& chosen) override;
    bool chooseTransfer(qelcomm::control::CQelComm& c, bool sending, std::int32_t& protocol,
                        std::string& file) override;
    void copy(qelcomm::control::CQelComm& c) override;
    void paste(qelcomm::control::CQelComm& c) override;
    void properties(qelcomm::control::CQelComm& c) override;
    void font(qelcomm::control::CQelComm& c) override;
    void statusChanged(qelcomm::control::CQelComm&) override
    {
        if (onStatus)
            onStatus();
    }

    std::function<void()> onStatus;

private:
    QWidget* m_parent;
    qelcomm::terminal::TerminalView* m_view;
};

}  // namespace qelterm
