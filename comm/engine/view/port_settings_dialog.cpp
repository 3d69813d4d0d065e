#include "port_settings_dialog.h"

#include "window_host.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <iterator>

namespace qelcomm {
namespace {

template <std::size_t N>
QGroupBox* group(const char* title, const int (&ids)[N], const QStringList& captions)
{
    auto* box = new QGroupBox(title);
    auto* layout = new QVBoxLayout(box);
    auto* buttons = new QButtonGroup(box);
    for (std::size_t i = 0; i < N; ++i) {
        auto* b = new QRadioButton(captions.value(int(i)));
        b->setObjectName(QString::number(ids[i]));
        buttons->addButton(b, ids[i]);
        layout->addWidget(b);
    }
    return box;
}

int checkedIn(const PortSettingsDialogBox& d, const int* ids, std::size_t n, int fallback)
{
    for (std::size_t i = 0; i < n; ++i)
        if (QAbstractButton* b = d.control(ids[i]); b && b->isChecked())
            return ids[i];
    return fallback;
}

std::int32_t runDialog(QcHandle object, QcHandle)
{
    if (!canShowWindows())
        return 0;
    PortSettingsDialogBox box(object, QApplication::activeWindow());
    return box.exec() == QDialog::Accepted ? 1 : 0;
}

}  // namespace

PortSettingsDialogBox::PortSettingsDialogBox(QcHandle object, QWidget* parent) : QDialog(parent), m_object(object)
{
    setWindowTitle("Port Settings");
    setModal(true);
    QStringList bauds;
    for (std::int32_t b : kBauds)
        bauds << QString::number(b);
    auto* grid = new QGridLayout;
    grid->addWidget(group("Baud", kBaudIds, bauds), 0, 0, 2, 1);
    grid->addWidget(group("Data bits", kDataBitsIds, {"5", "6", "7", "8"}), 0, 1);
    grid->addWidget(group("Parity", kParityIds, {"None", "Odd", "Even", "Mark", "Space"}), 0, 2);
    grid->addWidget(group("Stop bits", kStopBitsIds, {"1", "1.5", "2"}), 1, 1);
    grid->addWidget(group("Handshaking", kHandshakingIds, {"XonXoff", "Hardware", "None"}), 1, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QString::number(kIdOk));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QString::number(kIdCancel));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        applyPortSettingsChoice(m_object, choice());
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    const PortSettingsChoice c = currentPortSettingsChoice(object);
    for (int id : {c.baud, c.dataBits, c.parity, c.stopBits, c.handshaking})
        if (QAbstractButton* b = control(id))
            b->setChecked(true);
}

QAbstractButton* PortSettingsDialogBox::control(int id) const
{
    return findChild<QAbstractButton*>(QString::number(id));
}

PortSettingsChoice PortSettingsDialogBox::choice() const
{
    PortSettingsChoice c;
    c.baud = checkedIn(*this, kBaudIds, std::size(kBaudIds), c.baud);
    c.dataBits = checkedIn(*this, kDataBitsIds, std::size(kDataBitsIds), c.dataBits);
    c.parity = checkedIn(*this, kParityIds, std::size(kParityIds), c.parity);
    c.stopBits = checkedIn(*this, kStopBitsIds, std::size(kStopBitsIds), c.stopBits);
    c.handshaking = checkedIn(*this, kHandshakingIds, std::size(kHandshakingIds), c.handshaking);
    return c;
}

void installPortSettingsDialog() { SetPortSettingsDialogRunner(&runDialog); }

}  // namespace qelcomm

// What libqelcomm6 looks up when it loads this library itself (a program
// that does not link it, a C program on the flat interface).

extern "C" __attribute__((visibility("default"))) std::int32_t qelcomm6PortSettingsDialog(QcHandle object,
                                                                                         QcHandle parent)
{
    return qelcomm::runDialog(object, parent);
}

// The application object of a program without one: a QApplication. A
// display that cannot be reached falls back to the offscreen platform
// instead of ending the program (no window shows there, see window_host.h).
extern "C" __attribute__((visibility("default"))) int qelcomm6MakeApplication()
{
    if (QCoreApplication::instance())
        return 0;
    static QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty())
        platform = qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? "wayland;xcb" : "xcb";
    if (!platform.contains("offscreen"))
        platform += ";offscreen";
    static int argc = 3;
    static char name[] = "qelcomm6";
    static char option[] = "-platform";
    static char* argv[] = {name, option, platform.data(), nullptr};
    new QApplication(argc, argv);   // lives until the process ends, as the core application would
    return 1;
}
