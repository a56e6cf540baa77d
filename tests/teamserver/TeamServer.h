#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <optional>

namespace pondra::teamserver {

/// The server side of every endpoint of the team server, on loopback, with
/// scripted faults (commands on standard input) and an event log (JSON lines
/// on standard output).
class TeamServer final : public QObject
{
    Q_OBJECT
public:
    TeamServer(QString token, QObject* parent = nullptr);
    bool listen(quint16 port);
    quint16 port() const { return m_port; }
    /// Reads commands from this file descriptor (one JSON object a line).
    void watchCommands(int fd);

private:
    struct Connection
    {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
        bool isWebSocket = false;
        bool stalled = false;
        std::optional<QString> team;
        QByteArray fragments;
        int fragmentOpcode = 0;
    };
    struct Override
    {
        int status = 200;
        QByteArray body;
    };

    void onNewConnection(QTcpServer* server);
    void onReadyRead(Connection* connection);
    void onCommandReadable();

    void handleHttp(Connection* connection, const QByteArray& method, const QByteArray& target,
                    const QHash<QByteArray, QByteArray>& headers, const QByteArray& body);
    void upgrade(Connection* connection, const QByteArray& target, const QHash<QByteArray, QByteArray>& headers);
    void readFrames(Connection* connection);
    void handleWebSocketMessage(Connection* connection, int opcode, const QByteArray& payload);
    void respond(Connection* connection, int status, const QByteArray& body);
    void sendFrame(Connection* connection, int opcode, const QByteArray& payload);
    void broadcastUsers(const QString& team);
    QByteArray usersMessage(const QString& team) const;
    int routeRing(const QJsonObject& frame, const QString& to);
    void runCommand(const QJsonObject& command);
    void event(const QString& name, QJsonObject fields = {});
    void drop(Connection* connection);

    QString m_token;
    quint16 m_port = 0;
    QList<QTcpServer*> m_servers;
    std::vector<std::unique_ptr<Connection>> m_connections;
    QMap<QString, QJsonObject> m_records;
    QStringList m_teams{QStringLiteral("Default")};
    QHash<QByteArray, Override> m_overrides;
    int m_refuseHandshakeStatus = 0;
    bool m_stallHandshake = false;
    bool m_ignorePings = false;
    QElapsedTimer m_clock;
    std::unique_ptr<QSocketNotifier> m_commands;
    QByteArray m_commandBuffer;
    int m_commandFd = -1;
};

} // namespace pondra::teamserver
