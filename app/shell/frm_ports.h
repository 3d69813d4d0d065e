// "Serial ports..." (Tools menu): the machine's serial devices with their
// stable names, drivers, USB details and users, and the COM names that
// reach them.  Assigning a device to a COM number writes the ports map,
// with the device's by-id name where it has one, so the number follows the
// device across replugging.
#pragma once

#include "port_list.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace lintrel {

class frmPorts : public QDialog {
    Q_OBJECT
public:
    explicit frmPorts(QWidget* parent = nullptr, std::function<PortList()> lister = listPorts);

    void refresh();
    // Maps COMn to the device of the selected row (its stable name); false,
    // with the reason shown, when there is no selection or the map cannot
    // be written.
    bool assignSelected(int n);
    // Removes every map entry that names the selected device.
    bool unassignSelected();
    QTableWidget* table() const { return m_table; }
    QLabel* note() const { return m_note; }

private:
    const PortRow* selectedRow() const;

    std::function<PortList()> m_lister;
    PortList m_list;
    QTableWidget* m_table;
    QLabel* m_note;
    QLabel* m_result;
    QComboBox* m_com;
    QPushButton* m_assign;
    QPushButton* m_unassign;
};

}  // namespace lintrel
