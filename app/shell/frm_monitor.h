// The traffic monitor of one session: every chunk that crosses it, with
// its time to the microsecond, direction, peer, length, hex and text.
// While the window is open the session's tap points at its record; closed,
// the session has no tap and pays nothing for it.  The record is bounded
// (the "Keep" choice); pausing stops taking chunks in.
#pragma once

#include "traffic_log.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableView;

namespace lintrel {

class Session;

// The records of a TrafficLog as table rows; sync() brings the rows in
// line with the log (records pushed out at the front, new ones at the end).
class TrafficModel : public QAbstractTableModel {
public:
    enum Column { Time, Direction, Client, Length, Hex, Text, ColumnCount };
    static constexpr int kPreviewBytes = 16;

    explicit TrafficModel(const TrafficLog& log) : m_log(log) {}
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    void sync();
    const TrafficRecord* record(int row) const;

private:
    const TrafficLog& m_log;
    std::uint64_t m_first = 0;   // sequence numbers of the rows shown
    std::uint64_t m_end = 0;
};

class frmMonitor : public QWidget {
    Q_OBJECT
public:
    frmMonitor(Session& session, QWidget* parent = nullptr);
    ~frmMonitor() override;

    TrafficLog& log() { return m_log; }
    TrafficModel& model() { return m_model; }
    // Takes new records into the table now (a timer does it 5 times a second).
    void sync();
    // Selects the next record after the current one (wrapping) whose bytes
    // hold the text, or the bytes a hex text such as "0d 0a" names, or
    // whose peer matches; false when none does.
    bool findNext(const QString& what);
    // Every record held, as text; false when the file cannot be written.
    bool saveAs(const QString& path);
    // For the window title: the session's caption.
    void setCaption(const QString& caption);

    // Whether a record matches a search text.
    static bool matches(const TrafficRecord& r, const QString& what);

private:
    void build();
    void showDetail();
    void updateStatus();
    void save();

    Session& m_session;
    TrafficLog m_log;
    TrafficModel m_model;
    QTimer m_timer;
    QTableView* m_table;
    QPlainTextEdit* m_detail;
    QLabel* m_status;
    QCheckBox* m_pause;
    QComboBox* m_keep;
    QLineEdit* m_find;
    bool m_follow = true;   // keep the newest row in view
};

}  // namespace lintrel
