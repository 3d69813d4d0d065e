// The dialogs of the Tools and File menus and of the session window's
// "I/O Options..." button; each opens modally over parent.
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

}  // namespace lintrel
