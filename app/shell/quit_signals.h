// SIGINT and SIGTERM as a Qt signal: the handler only writes to a pipe, and
// the event loop reads it, so the program stops between events.  SIGHUP
// too, where the owner asks for it (the windowless mode reloads on it).
#pragma once

#include <QObject>

class QSocketNotifier;

namespace lintrel {

class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // From now on SIGHUP comes as hangupRequested instead of ending the
    // program.
    void catchHangup();

signals:
    void quitRequested(int signalNumber);
    void hangupRequested();

private:
    static void handle(int number);
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace lintrel
