#include "quit_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace lintrel {
namespace {

int g_pipe[2] = {-1, -1};

void onSignal(int number)
{
    const unsigned char b = static_cast<unsigned char>(number);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &b, 1);
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char b = 0;
        while (::read(g_pipe[0], &b, 1) == 1) {
            if (b == SIGHUP)
                emit hangupRequested();
            else
                emit quitRequested(b);
        }
    });
    handle(SIGINT);
    handle(SIGTERM);
}

void QuitSignals::handle(int number)
{
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(number, &sa, nullptr);
}

void QuitSignals::catchHangup()
{
    if (m_notifier)
        handle(SIGHUP);
}

QuitSignals::~QuitSignals()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
}

}  // namespace lintrel
