#include "shell_dialogs.h"
#include "shell_tools.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace lintrel {
namespace {

const char* const kFilter = "Lintrel Files (*.QCF *.qcf);;All Files (*)";

ShellDialogs makeDefaults()
{
    ShellDialogs d;
    d.message = [](QWidget* parent, const QString& text, const QString& title, ShellDialogs::Icon icon) {
        QMessageBox box(icon == ShellDialogs::Icon::Critical ? QMessageBox::Critical
                                                             : QMessageBox::Information,
                        title, text, QMessageBox::Ok, parent);
        box.exec();
    };
    d.configFile = [](QWidget* parent, bool save) {
        QFileDialog dlg(parent);
        dlg.setNameFilter(kFilter);
        if (save) {
            // No overwrite prompt: saving over a configuration is routine.
            dlg.setAcceptMode(QFileDialog::AcceptSave);
            dlg.setDefaultSuffix("qcf");
            dlg.setOption(QFileDialog::DontConfirmOverwrite);
        } else {
            dlg.setAcceptMode(QFileDialog::AcceptOpen);
            dlg.setFileMode(QFileDialog::ExistingFile);
        }
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return QString();
        return dlg.selectedFiles().first();
    };
    // A minimal prompt until the password dialogs have their own forms.
    d.enterPassword = [](QWidget* parent) {
        bool ok = false;
        const QString text = QInputDialog::getText(parent, "Lintrel Password", "Enter Password:",
                                                   QLineEdit::Password, QString(), &ok);
        return ok ? text : QString();
    };
    return d;
}

}  // namespace

ShellDialogs& shellDialogs()
{
    static ShellDialogs d = makeDefaults();
    return d;
}

void showMessage(QWidget* parent, const QString& text, const QString& title, ShellDialogs::Icon icon)
{
    if (shellDialogs().message)
        shellDialogs().message(parent, text, title, icon);
}

void notYet(QWidget* parent, const char* what)
{
    showMessage(parent, QString("%1 is not available in this build yet.").arg(what), "Lintrel");
}

}  // namespace lintrel
