#include "frm_clients.h"

#include "session.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace lintrel {

QString byteCountText(std::uint64_t n)
{
    return QLocale().toString(qulonglong(n));
}

namespace {

// Today's connections by their time, older ones with the date.
QString sinceText(std::int64_t ms)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    return t.date() == QDate::currentDate() ? t.toString("HH:mm:ss") : t.toString("yyyy-MM-dd HH:mm:ss");
}

}  // namespace

frmClients::frmClients(Session& session, QWidget* parent) : QDialog(parent), m_session(session)
{
    setObjectName("frmClients");
    setWindowTitle("Connected Clients:");
    setAttribute(Qt::WA_DeleteOnClose);
    m_table = new QTableWidget(0, 4);
    m_table->setObjectName("tblClients");
    m_table->setHorizontalHeaderLabels({"Client", "Connected Since", "Received", "Sent"});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setToolTip("Received: bytes taken from the client; Sent: bytes handed to it");

    m_disconnect = new QPushButton("&Disconnect");
    m_disconnect->setObjectName("cmdDisconnect");
    auto* close = new QPushButton("Close");
    close->setObjectName("cmdClose");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_disconnect);
    buttons->addWidget(close);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_table);
    top->addLayout(buttons);
    resize(560, 240);

    connect(m_disconnect, &QPushButton::clicked, this, &frmClients::disconnectSelected);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_table, &QTableWidget::itemSelectionChanged, this,
            [this] { m_disconnect->setEnabled(!m_table->selectedItems().isEmpty()); });
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, this, &frmClients::refresh);
    m_timer.start();
    refresh();
}

void frmClients::refresh()
{
    const std::vector<Session::Client> list = m_session.clients();
    // The selection follows its client (the socket index) across refreshes.
    const int selectedRow = m_table->currentRow();
    const int selectedIndex =
        selectedRow >= 0 && m_table->item(selectedRow, 0) ? m_table->item(selectedRow, 0)->data(Qt::UserRole).toInt() : -1;
    m_table->setRowCount(int(list.size()));
    int reselect = -1;
    for (int row = 0; row < int(list.size()); ++row) {
        const Session::Client& c = list[std::size_t(row)];
        const QString cells[4] = {QString::fromStdString(c.counters.name()), sinceText(c.counters.sinceMs),
                                  byteCountText(c.counters.bytesIn), byteCountText(c.counters.bytesOut)};
        for (int col = 0; col < 4; ++col) {
            QTableWidgetItem* item = m_table->item(row, col);
            if (!item) {
                item = new QTableWidgetItem;
                if (col >= 2)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                m_table->setItem(row, col, item);
            }
            if (item->text() != cells[col])
                item->setText(cells[col]);
        }
        m_table->item(row, 0)->setData(Qt::UserRole, c.index);
        if (c.index == selectedIndex)
            reselect = row;
    }
    if (reselect >= 0 && reselect != selectedRow)
        m_table->selectRow(reselect);
    else if (reselect < 0)
        m_table->clearSelection();
    m_disconnect->setEnabled(!m_table->selectedItems().isEmpty());
}

void frmClients::disconnectSelected()
{
    const int row = m_table->currentRow();
    if (row < 0 || m_table->selectedItems().isEmpty() || !m_table->item(row, 0))
        return;
    m_session.disconnectClient(m_table->item(row, 0)->data(Qt::UserRole).toInt());
    refresh();
}

}  // namespace lintrel
