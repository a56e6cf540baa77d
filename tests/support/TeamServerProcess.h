#pragma once

#include "TestProcesses.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace pondra::test {

/**
 * The local team server (pondra-team-server) on a free loopback port, with
 * scripted faults and its event log. Every event is a JSON object with
 * "event" (e.g. "http", "ws-handshake", "ws-open", "ws-message", "ws-ping",
 * "ws-close", "ws-disconnected") and "t" (the server's monotonic
 * milliseconds); "http" events carry "method", "target", "headers" (lower-case
 * names) and "body".
 */
class TeamServerProcess final
{
public:
    using Predicate = std::function<bool(const QJsonObject&)>;

    /// The token the build gives the program and the server by default.
    static QString defaultToken();

    /// Port 0 picks a free port; an empty token turns the checks off.
    bool start(const QString& token = defaultToken(), quint16 port = 0);
    void stop();
    /// Stops and starts again on the same port with the same token.
    bool restart();
    bool isRunning() const { return m_process.isRunning(); }

    quint16 port() const { return m_port; }
    /// "http://127.0.0.1:<port>".
    QString baseUrl() const;
    QUrl url(const QString& pathAndQuery) const;

    /// Sends one scripted-fault command and waits until the server has run it.
    /// Commands: refuseHandshake{status}, stallHandshake{on}, ignorePings{on},
    /// closeSockets{code}, dropSockets, sendFrame{opcode, text|base64, padTo},
    /// respond{path, status, body | clear}, setTeams{teams}, putRecord{record}.
    bool command(const QString& name, QJsonObject arguments = {});

    /// Every event read so far (reads what is waiting first).
    QList<QJsonObject> events();
    QList<QJsonObject> events(const QString& name);
    void clearEvents();
    /// Runs the event loop until an event that matches arrives (also one
    /// already read and not yet cleared); none on time-out.
    std::optional<QJsonObject> waitForEvent(const QString& name, const Predicate& matches = {}, int timeoutMs = 10'000);
    /// Runs the event loop until `condition` holds; false on time-out.
    static bool pumpUntil(const std::function<bool()>& condition, int timeoutMs = 10'000);

private:
    void readAvailable();

    ManagedProcess m_process;
    QString m_token;
    quint16 m_port = 0;
    QList<QJsonObject> m_events;
};

} // namespace pondra::test
