// The OK / Cancel row the shell's small dialogs share: OK (object name
// "Command1", the default button) and Cancel ("Command2"), right-aligned.
#pragma once

class QHBoxLayout;
class QPushButton;

namespace lintrel {

QHBoxLayout* okCancel(QPushButton*& ok, QPushButton*& cancel);

}  // namespace lintrel
