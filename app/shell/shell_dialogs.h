// The modal pieces the shell shows: message boxes, the configuration file
// dialog, the program file dialog and the enter-password prompt.  Each is a replaceable function so
// tests can answer them without a person at the screen; the defaults show
// the real dialogs.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace lintrel {

struct ShellDialogs {
    enum class Icon { Information, Critical };
    // An OK-only message box.
    std::function<void(QWidget* parent, const QString& text, const QString& title, Icon icon)> message;
    // The file dialog with the configuration file filter; save = a save
    // dialog with the default extension "qcf".  Empty when cancelled.
    std::function<QString(QWidget* parent, bool save)> configFile;
    // "Browse..." of the options dialog: a program file, empty when cancelled.
    std::function<QString(QWidget* parent)> programFile;
    // "..." beside a TLS file: a PEM file (certificate, key or CAs) with
    // the dialog's title, starting at the current one; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& title, const QString& current)> pemFile;
    // The enter-password prompt; empty when cancelled.
    std::function<QString(QWidget* parent)> enterPassword;
};

// The process-wide set, filled with the real dialogs.
ShellDialogs& shellDialogs();

// Shortcuts through the set.
void showMessage(QWidget* parent, const QString& text, const QString& title,
                 ShellDialogs::Icon icon = ShellDialogs::Icon::Information);

}  // namespace lintrel
