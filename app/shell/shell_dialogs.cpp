#include "shell_dialogs.h"
#include "frm_password.h"
#include "shell_tools.h"

#include <QFileDialog>
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
    // Executable files first (there are no .EXE files here), then all.
    d.programFile = [](QWidget* parent) {
        QFileDialog dlg(parent);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Executable | QDir::AllDirs);
        dlg.setNameFilters({"Programs (*)", "All Files (*)"});
        QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&dlg](const QString& f) {
            dlg.setFilter(f.startsWith("Programs")
                              ? QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Executable | QDir::AllDirs
                              : QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs);
        });
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return QString();
        return dlg.selectedFiles().first();
    };
    d.pemFile = [](QWidget* parent, const QString& title, const QString& current) {
        QFileDialog dlg(parent, title, current);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        // Hidden folders too: keys often live in one.
        dlg.setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs | QDir::Hidden);
        dlg.setNameFilters({"PEM Files (*.pem *.crt *.cer *.key)", "All Files (*)"});
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return QString();
        return dlg.selectedFiles().first();
    };
    d.enterPassword = [](QWidget* parent) { return QString::fromStdString(askPassword(parent)); };
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

}  // namespace lintrel
