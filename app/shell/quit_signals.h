// SIGINT and SIGTERM as a Qt signal: the handler only writes to a pipe, and
// the event loop reads it, so the program stops between events.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace lintrel {

class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace lintrel
