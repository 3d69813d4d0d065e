// The dialogs the menus and the session windows open, each modal over its
// parent and discarded when closed.
#include "shell_tools.h"

#include "frm_io_options.h"
#include "frm_options.h"
#include "frm_password.h"
#include "frm_resolve.h"

namespace lintrel {

void showResolveTool(QWidget* parent)
{
    frmResolve tool(parent);
    tool.exec();
}

void showOptionsDialog(QWidget* parent)
{
    frmOptions dialog(parent);
    dialog.exec();
}

void showSetPasswordDialog(QWidget* parent)
{
    Form1 dialog(parent);
    dialog.exec();
}

void showServerOptionsDialog(QWidget* parent)
{
    frmServerOptions dialog(parent);
    dialog.exec();
}

void showClientOptionsDialog(QWidget* parent)
{
    frmClientOptions dialog(parent);
    dialog.exec();
}

}  // namespace lintrel
