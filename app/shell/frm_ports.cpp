#include "frm_ports.h"

#include "serial/namespace.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace lintrel {

namespace {

enum Column { Device, Com, ById, Driver, UsbId, Serial, Name, InUse, ColumnCount };

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

frmPorts::frmPorts(QWidget* parent, std::function<PortList()> lister)
    : QDialog(parent), m_lister(std::move(lister))
{
    setObjectName("frmPorts");
    setWindowTitle("Serial Ports");
    m_note = new QLabel;
    m_note->setObjectName("lblNote");
    m_note->setWordWrap(true);
    m_table = new QTableWidget(0, ColumnCount);
    m_table->setObjectName("tblPorts");
    m_table->setHorizontalHeaderLabels(
        {"Device", "COM", "By-id name", "Driver", "USB ID", "Serial number", "Name", "In use by"});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_com = new QComboBox;
    m_com->setObjectName("cboCom");
    for (int n = 1; n <= 99; ++n)
        m_com->addItem(QString("COM%1").arg(n), n);
    m_assign = new QPushButton("&Assign");
    m_assign->setObjectName("cmdAssign");
    m_assign->setToolTip("The COM number opens the selected device from now on (written to the ports map)");
    m_unassign = new QPushButton("&Unassign");
    m_unassign->setObjectName("cmdUnassign");
    auto* refresh = new QPushButton("&Refresh");
    refresh->setObjectName("cmdRefresh");
    auto* close = new QPushButton("Close");
    close->setObjectName("cmdClose");
    m_result = new QLabel;
    m_result->setObjectName("lblResult");
    m_result->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel("Assign to:"));
    buttons->addWidget(m_com);
    buttons->addWidget(m_assign);
    buttons->addWidget(m_unassign);
    buttons->addStretch();
    buttons->addWidget(refresh);
    buttons->addWidget(close);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_note);
    top->addWidget(m_table, 1);
    top->addWidget(m_result);
    top->addLayout(buttons);
    resize(900, 320);

    connect(m_assign, &QPushButton::clicked, this, [this] { assignSelected(m_com->currentData().toInt()); });
    connect(m_unassign, &QPushButton::clicked, this, &frmPorts::unassignSelected);
    connect(refresh, &QPushButton::clicked, this, &frmPorts::refresh);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        const PortRow* row = selectedRow();
        m_assign->setEnabled(row);
        m_unassign->setEnabled(row && !row->comNumbers.empty());
        // Offer the number it has, or the first free one.
        if (row && !row->comNumbers.empty())
            m_com->setCurrentIndex(row->comNumbers.front() - 1);
    });
    this->refresh();
}

void frmPorts::refresh()
{
    const std::string selected = selectedRow() ? selectedRow()->device.node : std::string();
    m_list = m_lister();
    m_note->setText(m_list.fromUdev ? "Serial devices as udev reports them."
                                    : "No udev: " + qs(m_list.note) + ".");
    m_table->clearSelection();
    m_table->setRowCount(int(m_list.rows.size()));
    int reselect = -1;
    for (int r = 0; r < int(m_list.rows.size()); ++r) {
        const PortRow& row = m_list.rows[std::size_t(r)];
        const auto& d = row.device;
        QString coms;
        for (int n : row.comNumbers)
            coms += (coms.isEmpty() ? "COM" : ", COM") + QString::number(n);
        QString users;
        for (const std::string& u : d.users)
            users += (users.isEmpty() ? "" : ", ") + qs(u);
        QString name = qs(d.vendor);
        if (!d.product.empty())
            name += (name.isEmpty() ? "" : " ") + qs(d.product);
        const QString cells[ColumnCount] = {
            qs(d.node), coms, d.byId.empty() ? QString() : QFileInfo(qs(d.byId)).fileName(), qs(d.driver),
            d.vendorId.empty() ? QString() : qs(d.vendorId + ":" + d.productId), qs(d.serial), name, users};
        for (int c = 0; c < ColumnCount; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == ById && !d.byId.empty())
                item->setToolTip(qs(d.byId));
            m_table->setItem(r, c, item);
        }
        if (d.node == selected)
            reselect = r;
    }
    if (reselect >= 0)
        m_table->selectRow(reselect);
    m_assign->setEnabled(selectedRow());
    m_unassign->setEnabled(selectedRow() && !selectedRow()->comNumbers.empty());
}

const PortRow* frmPorts::selectedRow() const
{
    const QList<QTableWidgetItem*> items = m_table->selectedItems();
    if (items.isEmpty())
        return nullptr;
    const int r = items.front()->row();
    return r >= 0 && r < int(m_list.rows.size()) ? &m_list.rows[std::size_t(r)] : nullptr;
}

bool frmPorts::assignSelected(int n)
{
    const PortRow* row = selectedRow();
    if (!row || n < 1) {
        m_result->setText("Select a device first.");
        return false;
    }
    const std::string name = row->device.stableName();
    std::string why;
    if (!serial::setMappedPort(n, name, &why)) {
        m_result->setText("Not assigned: " + qs(why));
        return false;
    }
    m_result->setText(QString("COM%1 now opens %2 (written to %3).")
                          .arg(n)
                          .arg(qs(name))
                          .arg(qs(serial::portsMapPath())));
    refresh();
    return true;
}

bool frmPorts::unassignSelected()
{
    const PortRow* row = selectedRow();
    if (!row)
        return false;
    const std::string real = QFileInfo(qs(row->device.node)).canonicalFilePath().toStdString();
    QStringList removed;
    for (const auto& [n, path] : serial::mappedPorts()) {
        if (QFileInfo(qs(path)).canonicalFilePath().toStdString() != real)
            continue;
        std::string why;
        if (!serial::setMappedPort(n, std::string(), &why)) {
            m_result->setText("Not unassigned: " + qs(why));
            return false;
        }
        removed << QString("COM%1").arg(n);
    }
    m_result->setText(removed.isEmpty() ? QString("Nothing in the ports map names this device.")
                                        : removed.join(", ") + " no longer in the ports map.");
    refresh();
    return !removed.isEmpty();
}

}  // namespace lintrel
