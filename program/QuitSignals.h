#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace pondra {

/**
 * Turns SIGTERM, SIGINT and SIGHUP (the session ending, a terminal closed,
 * Ctrl+C) into an ordinary quit of the event loop, so that a signal ends the
 * program the same way its quit command does. The handler only writes a byte
 * to a socket pair; the quit itself happens on the main thread.
 */
class QuitSignals final : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject* parent = nullptr);
    /// Puts the default handlers back.
    ~QuitSignals() override;

private:
    void onSignal();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace pondra
