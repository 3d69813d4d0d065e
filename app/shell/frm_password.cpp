#include "frm_password.h"

#include "dialog_buttons.h"

#include "global_options.h"
#include "shell_dialogs.h"

#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace lintrel {
namespace {

QLineEdit* maskedField(const char* name)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// Fixed size, centred on the screen the dialog opens on.
void centreOnScreen(QDialog* d)
{
    d->setFixedSize(d->sizeHint());
    QScreen* screen = d->parentWidget() ? d->parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect s = screen->geometry();
    d->move(s.x() + (s.width() - d->width()) / 2, s.y() + (s.height() - d->height()) / 2);
}

}  // namespace

Form1::Form1(QWidget* parent) : QDialog(parent)
{
    setObjectName("Form1");
    setWindowTitle("Lintrel Password");
    Text1 = maskedField("Text1");
    Text2 = maskedField("Text2");
    auto* form = new QFormLayout;
    form->addRow("Enter Password:", Text1);
    form->addRow("Confirm Password:", Text2);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addLayout(okCancel(Command1, Command2));
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    const QString current = QString::fromStdString(GlobalOptions.Password);
    Text1->setText(current);
    Text2->setText(current);
    centreOnScreen(this);
}

void Form1::Command1_Click()
{
    if (Text2->text() != Text1->text()) {
        showMessage(this, "Your confirming password does not match your password. Please re-enter.",
                    "Lintrel");
        return;
    }
    GlobalOptions.Password = Text1->text().toStdString();
    accept();
}

void Form1::Command2_Click()
{
    reject();
}

Form2::Form2(QWidget* parent) : QDialog(parent)
{
    setObjectName("Form2");
    setWindowTitle("Lintrel Password");
    Text1 = maskedField("Text1");
    auto* form = new QFormLayout;
    form->addRow("Enter Password:", Text1);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addLayout(okCancel(Command1, Command2));
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    centreOnScreen(this);
}

void Form2::Command1_Click()
{
    m_entered = Text1->text().toStdString();
    accept();
}

void Form2::Command2_Click()
{
    m_entered.clear();
    reject();
}

std::string askPassword(QWidget* parent)
{
    Form2 prompt(parent);
    prompt.exec();
    return prompt.result() == QDialog::Accepted ? prompt.entered() : std::string();
}

}  // namespace lintrel
