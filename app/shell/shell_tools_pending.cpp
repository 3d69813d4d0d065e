// Placeholders for the dialogs that are not part of this build yet: each
// says so instead of doing nothing.  A dialog that arrives replaces its
// function here.
#include "shell_tools.h"

namespace lintrel {

void showResolveTool(QWidget* parent) { notYet(parent, "The host name resolution tool"); }
void showOptionsDialog(QWidget* parent) { notYet(parent, "The options dialog"); }
void showSetPasswordDialog(QWidget* parent) { notYet(parent, "The password dialog"); }
void showServerOptionsDialog(QWidget* parent) { notYet(parent, "The server I/O options dialog"); }
void showClientOptionsDialog(QWidget* parent) { notYet(parent, "The client I/O options dialog"); }

}  // namespace lintrel
