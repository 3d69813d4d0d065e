// The port settings dialog: radio groups for baud, data bits, parity, stop
// bits and handshaking (each button named by its control id), preselected
// from the object; OK applies the choice to the object.
#pragma once

#include "port_settings_choice.h"

#include <QDialog>

class QAbstractButton;

namespace qelcomm {

class PortSettingsDialogBox : public QDialog {
public:
    PortSettingsDialogBox(QcHandle object, QWidget* parent = nullptr);
    // The buttons checked now.
    PortSettingsChoice choice() const;
    // The radio button or push button of a control id.
    QAbstractButton* control(int id) const;

private:
    QcHandle m_object;
};

// Makes PortSettingsDialog show this dialog modally.
void installPortSettingsDialog();

}  // namespace qelcomm
