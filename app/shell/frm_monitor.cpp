#include "frm_monitor.h"

#include "session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace lintrel {

namespace {

const std::pair<const char*, std::size_t> kKeepChoices[] = {
    {"256 KB", 256u << 10}, {"1 MB", 1u << 20}, {"4 MB", 4u << 20},
    {"16 MB", 16u << 20},   {"64 MB", 64u << 20},
};

QString preview(const std::string& bytes, bool hex)
{
    const std::size_t n = std::min<std::size_t>(bytes.size(), TrafficModel::kPreviewBytes);
    const std::string part = bytes.substr(0, n);
    QString s;
    if (hex) {
        s = QString::fromLatin1(QByteArray(part.data(), qsizetype(n)).toHex(' '));
    } else {
        for (char c : part) {
            const auto b = static_cast<unsigned char>(c);
            s += b >= 0x20 && b < 0x7f ? QChar(b) : QChar('.');
        }
    }
    if (bytes.size() > n)
        s += QString::fromUtf8(" \u2026");
    return s;
}

// "0d 0a", "0D0A": the bytes; empty when the text is not hex pairs.
std::string hexBytes(const QString& what)
{
    QString digits = what;
    digits.remove(' ');
    if (digits.isEmpty() || digits.size() % 2 != 0)
        return {};
    for (QChar c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c.toLatin1())))
            return {};
    return QByteArray::fromHex(digits.toLatin1()).toStdString();
}

}  // namespace

int TrafficModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_end - m_first);
}

int TrafficModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const TrafficRecord* TrafficModel::record(int row) const
{
    const std::uint64_t seq = m_first + std::uint64_t(row);
    if (row < 0 || seq < m_log.firstSeq() || seq >= m_log.endSeq())
        return nullptr;
    return &m_log.records()[std::size_t(seq - m_log.firstSeq())];
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const
{
    const TrafficRecord* r = record(index.row());
    if (!r)
        return {};
    if (role == Qt::TextAlignmentRole && index.column() == Length)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Time: return QString::fromStdString(formatTimestamp(r->usec)).mid(11);
    case Direction: return QString::fromLatin1(directionName(r->direction));
    case Client: return QString::fromStdString(r->client);
    case Length: return qulonglong(r->size);
    case Hex: return preview(r->bytes, true);
    case Text: return preview(r->bytes, false);
    default: return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const names[ColumnCount] = {"Time", "Direction", "Client", "Length", "Hex", "Text"};
    return section >= 0 && section < ColumnCount ? QString(names[section]) : QVariant();
}

void TrafficModel::sync()
{
    const std::uint64_t first = m_log.firstSeq(), end = m_log.endSeq();
    if (end < m_end || first > m_end) {
        // Cleared, or everything shown was pushed out: start afresh.
        beginResetModel();
        m_first = first;
        m_end = end;
        endResetModel();
        return;
    }
    if (first > m_first) {
        beginRemoveRows({}, 0, int(first - m_first) - 1);
        m_first = first;
        endRemoveRows();
    }
    if (end > m_end) {
        beginInsertRows({}, int(m_end - m_first), int(end - m_first) - 1);
        m_end = end;
        endInsertRows();
    }
}

frmMonitor::frmMonitor(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session), m_model(m_log)
{
    setObjectName("frmMonitor");
    setAttribute(Qt::WA_DeleteOnClose);
    build();
    setCaption(QString::fromStdString(session.Caption));
    m_session.setTrafficTap(&m_log);
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &frmMonitor::sync);
    m_timer.start();
    updateStatus();
}

frmMonitor::~frmMonitor()
{
    if (m_session.trafficTap() == &m_log)
        m_session.setTrafficTap(nullptr);
}

void frmMonitor::setCaption(const QString& caption)
{
    setWindowTitle("Traffic Monitor - " + caption);
}

void frmMonitor::build()
{
    m_pause = new QCheckBox("&Pause");
    m_pause->setObjectName("chkPause");
    m_pause->setToolTip("Stop taking chunks in; the ones that pass meanwhile are counted");
    auto* clear = new QPushButton("C&lear");
    clear->setObjectName("cmdClear");
    m_keep = new QComboBox;
    m_keep->setObjectName("cboKeep");
    for (const auto& [label, bytes] : kKeepChoices)
        m_keep->addItem(label, qulonglong(bytes));
    m_keep->setCurrentIndex(1);
    m_keep->setToolTip("At most this much is kept; the oldest chunks make room for new ones");
    m_find = new QLineEdit;
    m_find->setObjectName("txtFind");
    m_find->setPlaceholderText("text or hex (0d 0a)");
    auto* find = new QPushButton("&Find Next");
    find->setObjectName("cmdFind");
    auto* save = new QPushButton("&Save As...");
    save->setObjectName("cmdSave");

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_pause);
    bar->addWidget(clear);
    bar->addWidget(new QLabel("Keep:"));
    bar->addWidget(m_keep);
    bar->addSpacing(12);
    bar->addWidget(new QLabel("Find:"));
    bar->addWidget(m_find, 1);
    bar->addWidget(find);
    bar->addWidget(save);

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_table = new QTableView;
    m_table->setObjectName("tblTraffic");
    m_table->setModel(&m_model);
    m_table->setFont(fixed);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);
    const int digit = m_table->fontMetrics().horizontalAdvance('0');
    m_table->setColumnWidth(TrafficModel::Time, digit * 17);
    m_table->setColumnWidth(TrafficModel::Direction, digit * 12);
    m_table->setColumnWidth(TrafficModel::Client, digit * 19);
    m_table->setColumnWidth(TrafficModel::Length, digit * 8);
    m_table->setColumnWidth(TrafficModel::Hex, digit * (TrafficModel::kPreviewBytes * 3 + 3));

    m_detail = new QPlainTextEdit;
    m_detail->setObjectName("txtDetail");
    m_detail->setReadOnly(true);
    m_detail->setFont(fixed);
    m_detail->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_detail->setPlaceholderText("Select a chunk to see all of its bytes");

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(m_table);
    split->addWidget(m_detail);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    m_status = new QLabel;
    m_status->setObjectName("lblMonitorStatus");

    auto* top = new QVBoxLayout(this);
    top->addLayout(bar);
    top->addWidget(split, 1);
    top->addWidget(m_status);
    resize(digit * 142, 520);

    connect(m_pause, &QCheckBox::toggled, this, [this](bool on) {
        m_log.setPaused(on);
        updateStatus();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        m_log.clear();
        sync();
        m_detail->clear();
    });
    connect(m_keep, &QComboBox::currentIndexChanged, this, [this] {
        m_log.setLimit(std::size_t(m_keep->currentData().toULongLong()));
        sync();
    });
    connect(find, &QPushButton::clicked, this, [this] { findNext(m_find->text()); });
    connect(m_find, &QLineEdit::returnPressed, this, [this] { findNext(m_find->text()); });
    connect(save, &QPushButton::clicked, this, &frmMonitor::save);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &frmMonitor::showDetail);
    // Scrolling away from the end stops following new rows; back at the end
    // it follows again.
    connect(m_table->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        m_follow = v == m_table->verticalScrollBar()->maximum();
    });
}

void frmMonitor::sync()
{
    const bool follow = m_follow;
    m_model.sync();
    if (follow && m_model.rowCount() > 0)
        m_table->scrollToBottom();
    updateStatus();
}

void frmMonitor::showDetail()
{
    const TrafficRecord* r = m_model.record(m_table->currentIndex().row());
    m_detail->setPlainText(r ? QString::fromStdString(formatRecord(*r)) : QString());
}

void frmMonitor::updateStatus()
{
    QString text = QString("%1 chunks kept (%2 KB of %3 KB)")
                       .arg(m_log.records().size())
                       .arg((m_log.heldBytes() + 1023) / 1024)
                       .arg(m_log.limit() / 1024);
    if (m_log.pushedOut())
        text += QString(", %1 older ones pushed out").arg(m_log.pushedOut());
    if (m_log.skipped())
        text += QString(", %1 skipped while paused").arg(m_log.skipped());
    if (m_log.paused())
        text += " - paused";
    if (m_status->text() != text)
        m_status->setText(text);
}

bool frmMonitor::matches(const TrafficRecord& r, const QString& what)
{
    if (what.isEmpty())
        return false;
    const std::string text = what.toStdString();
    if (r.bytes.find(text) != std::string::npos || r.client.find(text) != std::string::npos)
        return true;
    const std::string bytes = hexBytes(what);
    return !bytes.empty() && r.bytes.find(bytes) != std::string::npos;
}

bool frmMonitor::findNext(const QString& what)
{
    sync();
    const int rows = m_model.rowCount();
    const int from = m_table->currentIndex().isValid() ? m_table->currentIndex().row() : -1;
    for (int k = 1; k <= rows; ++k) {
        const int row = (from + k) % rows;
        const TrafficRecord* r = m_model.record(row);
        if (r && matches(*r, what)) {
            m_table->setCurrentIndex(m_model.index(row, 0));
            m_table->scrollTo(m_model.index(row, 0));
            return true;
        }
    }
    m_status->setText("\"" + what + "\" not found");
    return false;
}

bool frmMonitor::saveAs(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const TrafficRecord& r : m_log.records()) {
        const std::string text = formatRecord(r);
        if (f.write(text.data(), qint64(text.size())) != qint64(text.size()))
            return false;
    }
    return f.flush();
}

void frmMonitor::save()
{
    const QString path = QFileDialog::getSaveFileName(this, "Save Traffic As", "traffic.txt",
                                                      "Text Files (*.txt);;All Files (*)");
    if (!path.isEmpty() && !saveAs(path))
        m_status->setText("Cannot write " + path);
}

}  // namespace lintrel
