#include "program/QuitSignals.h"

#include <QCoreApplication>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace pondra {

namespace {
int signalPipe[2] = {-1, -1};
constexpr int quitSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onUnixSignal(int)
{
    const char byte = 1;
    // Async-signal-safe; a full pipe already holds a pending quit.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}
} // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &QuitSignals::onSignal);
    struct sigaction action = {};
    action.sa_handler = onUnixSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : quitSignals)
        ::sigaction(signal, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    for (int signal : quitSignals)
        std::signal(signal, SIG_DFL);
    m_notifier.reset();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void QuitSignals::onSignal()
{
    char bytes[16];
    while (::read(signalPipe[1], bytes, sizeof bytes) > 0) {
    }
    // As the Quit command: the windows are closed first (a closed settings
    // window commits what is being edited). A signal is not a question, so
    // the loop ends even if a window refused to close.
    QCoreApplication::quit();
    QCoreApplication::exit(0);
}

} // namespace pondra
