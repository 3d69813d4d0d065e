// Dialogs of the Tools and File menus that live in their own folders.  The
// main window calls these; each opens its dialog modally over parent.
#pragma once

class QWidget;

namespace lintrel {

void showPingTool(QWidget* parent);          // Tools > "&Ping IP Address..."
void showResolveTool(QWidget* parent);       // Tools > "&Resolve IP Address from Host Name..."
void showOptionsDialog(QWidget* parent);     // File > "&Options..."
void showSetPasswordDialog(QWidget* parent); // File > "Password..."
// The session window's "I/O Options..." by role; they edit IoOptionTransfer.
void showServerOptionsDialog(QWidget* parent);
void showClientOptionsDialog(QWidget* parent);

// Tells that a dialog is not part of this build yet.
void notYet(QWidget* parent, const char* what);

}  // namespace lintrel
