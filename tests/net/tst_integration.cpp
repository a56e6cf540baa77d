// NetworkClient against the local team server on loopback (real sockets,
// virtual time for the client's delays and the socket's deadlines).
#include "LogRecorder.h"
#include "TeamServerProcess.h"

#include "net/NetworkClient.h"
#include "platform/http/QtHttpClient.h"
#include "platform/netpath/PathMonitor.h"
#include "platform/websocket/QtWebSocket.h"
#include "records/ServerAddresses.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

struct Rig
{
    test::TeamServerProcess server;
    VirtualScheduler scheduler;
    std::shared_ptr<FakePathMonitor> path = std::make_shared<FakePathMonitor>();
    QString token;
    std::unique_ptr<ServerAddresses> addresses;
    std::unique_ptr<NetworkClient> client;

    bool start(const QString& clientToken, const QString& serverToken)
    {
        return server.start(serverToken) && startClient(clientToken);
    }

    bool startClient(const QString& clientToken)
    {
        token = clientToken;
        addresses =
            std::make_unique<ServerAddresses>([this] { return server.baseUrl(); }, [this] { return token; });
        NetworkClient::Callbacks callbacks;
        callbacks.getWsURL = [this] { return addresses->wsURL(); };
        callbacks.getTeamsURL = [this] { return addresses->teamsURL(); };
        callbacks.getServerURL = [this] { return addresses->serverURL(); };
        callbacks.getTeamName = [] { return QStringLiteral("Blue"); };
        callbacks.getApiToken = [this] { return token; };
        callbacks.getUserName = [] { return QStringLiteral("Ana"); };
        callbacks.getUpdatePayload = [](bool, std::function<void(const UpdatePayload&)> done) {
            done({true,
                  QJsonObject{{QStringLiteral("id"), QStringLiteral("A1")},
                              {QStringLiteral("name"), QStringLiteral("Ana")},
                              {QStringLiteral("team"), QStringLiteral("Blue")},
                              {QStringLiteral("isPondra"), true},
                              {QStringLiteral("isIdle"), false},
                              {QStringLiteral("idleState"), QStringLiteral("active")},
                              {QStringLiteral("idleSeconds"), 0}},
                  std::nullopt});
        };
        client = std::make_unique<NetworkClient>(
            std::move(callbacks),
            NetworkClient::Backends{std::make_shared<QtHttpClient>(),
                                    std::make_shared<QtWebSocketFactory>(scheduler), path, &scheduler});
        client->connect();
        path->report({true, {QStringLiteral("lo")}});
        return true;
    }

    int handshakes() { return int(server.events(QStringLiteral("ws-handshake")).size()); }
    bool until(const std::function<bool()>& condition, int timeoutMs = 10'000)
    {
        return test::TeamServerProcess::pumpUntil(condition, timeoutMs);
    }
    /// Connected, and the server has answered our own upload with our record.
    bool connectedWithOwnRecord()
    {
        return until([this] { return client->isConnected.get() && client->remoteUsers.get().size() == 1; });
    }
};

} // namespace

class TestNetIntegration final : public QObject
{
    Q_OBJECT

    // Every line of each test: no token may reach one, as it is or as it goes into the address.
    std::optional<test::LogRecorder> m_log;

private Q_SLOTS:
    void init() { m_log.emplace(); }
    void cleanup()
    {
        m_log->expectNoLineContains({test::TeamServerProcess::defaultToken(), QStringLiteral("not-the-token"),
                                     QStringLiteral("a b&c=d+e/f#g"),
                                     QStringLiteral("a%20b%26c%3Dd%2Be%2Ff%23g")});
        m_log.reset();
    }

    void requestsCarryTheTokenExactly_data()
    {
        QTest::addColumn<QString>("clientToken");
        QTest::addColumn<QString>("serverToken");
        QTest::addColumn<QString>("wsTarget");
        QTest::addColumn<QString>("authorization");
        const QString def = test::TeamServerProcess::defaultToken();
        QTest::newRow("default token")
            << def << def << QStringLiteral("/pondra/ws?token=") + def << QStringLiteral("Bearer ") + def;
        QTest::newRow("placeholder") << QStringLiteral("{{PONDRA_API_TOKEN}}") << QString()
                                     << QStringLiteral("/pondra/ws") << QString();
        QTest::newRow("empty") << QString() << QString() << QStringLiteral("/pondra/ws") << QString();
        QTest::newRow("token that needs encoding")
            << QStringLiteral("a b&c=d+e/f#g") << QStringLiteral("a b&c=d+e/f#g")
            << QStringLiteral("/pondra/ws?token=a%20b%26c%3Dd%2Be%2Ff%23g")
            << QStringLiteral("Bearer a b&c=d+e/f#g");
    }

    void requestsCarryTheTokenExactly()
    {
        QFETCH(QString, clientToken);
        QFETCH(QString, serverToken);
        QFETCH(QString, wsTarget);
        QFETCH(QString, authorization);
        Rig rig;
        QVERIFY(rig.start(clientToken, serverToken));
        QVERIFY(rig.connectedWithOwnRecord());

        const auto handshake = rig.server.waitForEvent(QStringLiteral("ws-handshake"));
        QVERIFY(handshake);
        QCOMPARE(handshake->value(QStringLiteral("target")).toString(), wsTarget);
        const QJsonObject wsHeaders = handshake->value(QStringLiteral("headers")).toObject();
        QVERIFY(!wsHeaders.contains(QStringLiteral("authorization")));
        QVERIFY(!wsHeaders.contains(QStringLiteral("origin")));
        QCOMPARE(
            rig.server.waitForEvent(QStringLiteral("ws-open"))->value(QStringLiteral("token")).toString(),
            serverToken.isEmpty() ? QString() : clientToken);

        const auto join = rig.server.waitForEvent(QStringLiteral("ws-message"));
        QCOMPARE(QJsonDocument::fromJson(join->value(QStringLiteral("text")).toString().toUtf8()).object(),
                 (QJsonObject{{QStringLiteral("type"), QStringLiteral("join")},
                              {QStringLiteral("team"), QStringLiteral("Blue")}}));

        const auto isTarget = [](const char* target) {
            return [target](const QJsonObject& e) {
                return e.value(QStringLiteral("target")).toString() == QLatin1String(target);
            };
        };
        const auto teams = rig.server.waitForEvent(QStringLiteral("http"), isTarget("/pondra/teams"));
        const auto update = rig.server.waitForEvent(QStringLiteral("http"), isTarget("/pondra/update"));
        QVERIFY(teams && update);
        QCOMPARE(teams->value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
        QCOMPARE(update->value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
        for (const auto& request : {*teams, *update}) {
            const QJsonObject headers = request.value(QStringLiteral("headers")).toObject();
            QCOMPARE(headers.value(QStringLiteral("authorization")).toString(), authorization);
        }
        QCOMPARE(update->value(QStringLiteral("headers"))
                     .toObject()
                     .value(QStringLiteral("content-type"))
                     .toString(),
                 QStringLiteral("application/json"));
        QVERIFY(rig.server.command(QStringLiteral("setTeams"),
                                   {{QStringLiteral("teams"), QJsonArray{QStringLiteral("Red")}}}));
        rig.client->fetchTeams();
        const QStringList expected{QStringLiteral("Red"), QStringLiteral("Blue")};
        QVERIFY(rig.until([&] { return rig.client->availableTeams.get() == expected; }));
    }

    void wrongTokenIsRefusedAndRetried()
    {
        Rig rig;
        QVERIFY(rig.start(QStringLiteral("not-the-token"), test::TeamServerProcess::defaultToken()));
        QVERIFY(rig.until([&] { return rig.client->hasPendingReconnect(); }));
        QCOMPARE(rig.client->isConnected.get(), false);
        rig.scheduler.advance(3s);
        QVERIFY(rig.until([&] { return rig.handshakes() == 2; }));
    }

    void reconnectsAfterTheServerGoes_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("connection dropped") << false;
        QTest::newRow("server restarted") << true;
    }

    void reconnectsAfterTheServerGoes()
    {
        QFETCH(bool, restart);
        Rig rig;
        QVERIFY(rig.start(test::TeamServerProcess::defaultToken(), test::TeamServerProcess::defaultToken()));
        QVERIFY(rig.connectedWithOwnRecord());
        if (restart) {
            QVERIFY(rig.server.restart());
        } else {
            rig.server.clearEvents();
            QVERIFY(rig.server.command(QStringLiteral("dropSockets")));
        }
        QVERIFY(rig.until([&] { return rig.client->hasPendingReconnect(); }));
        QCOMPARE(rig.client->isConnected.get(), false);
        QCOMPARE(rig.client->reconnectAttempt(), 1);
        rig.scheduler.advance(2900ms);
        QTest::qWait(50);
        QCOMPARE(rig.handshakes(), 0);
        rig.scheduler.advance(100ms);
        QVERIFY(rig.connectedWithOwnRecord());
        QCOMPARE(rig.handshakes(), 1);
        QVERIFY(rig.server.waitForEvent(QStringLiteral("http"), [](const QJsonObject& e) {
            return e.value(QStringLiteral("target")).toString() == QLatin1String("/pondra/teams");
        }));
    }

    void halfOpenConnectionFoundByThePongDeadline()
    {
        Rig rig;
        QVERIFY(rig.start(test::TeamServerProcess::defaultToken(), test::TeamServerProcess::defaultToken()));
        QVERIFY(rig.connectedWithOwnRecord());
        QVERIFY(rig.server.command(QStringLiteral("ignorePings"), {{QStringLiteral("on"), true}}));
        rig.scheduler.advance(30s);
        QVERIFY(rig.server.waitForEvent(QStringLiteral("ws-ping")));
        QTest::ignoreMessage(QtCriticalMsg, "WebSocket ping failed: No pong received before the next ping");
        rig.scheduler.advance(30s);
        QVERIFY(rig.until([&] { return rig.client->hasPendingReconnect(); }));
        QCOMPARE(rig.client->isConnected.get(), false);
        rig.scheduler.advance(3s);
        // The half-open socket is closed as going away, and a fresh one opens.
        QVERIFY(rig.server.waitForEvent(QStringLiteral("ws-close"), [](const QJsonObject& e) {
            return e.value(QStringLiteral("code")).toInt() == 1001 &&
                   e.value(QStringLiteral("reason")).toString().isEmpty();
        }));
        QVERIFY(rig.until([&] { return rig.handshakes() == 2; }));
    }

    void badFramesAreDroppedAndTheLoopGoesOn()
    {
        Rig rig;
        QVERIFY(rig.start(test::TeamServerProcess::defaultToken(), test::TeamServerProcess::defaultToken()));
        QVERIFY(rig.connectedWithOwnRecord());
        QTest::ignoreMessage(QtCriticalMsg, "Failed to decode WebSocket message type");
        QVERIFY(rig.server.command(QStringLiteral("sendFrame"),
                                   {{QStringLiteral("text"), QStringLiteral("{not json")}}));
        QVERIFY(rig.server.command(
            QStringLiteral("sendFrame"),
            {{QStringLiteral("opcode"), 2}, {QStringLiteral("base64"), QStringLiteral("//57fQ==")}}));
        const QJsonObject bo{{QStringLiteral("id"), QStringLiteral("B2")},
                             {QStringLiteral("name"), QStringLiteral("Bo")},
                             {QStringLiteral("team"), QStringLiteral("Blue")},
                             {QStringLiteral("isPondra"), false},
                             {QStringLiteral("isIdle"), true},
                             {QStringLiteral("idleState"), QStringLiteral("idle")},
                             {QStringLiteral("idleSeconds"), 900},
                             {QStringLiteral("lastUpdate"), QStringLiteral("t")}};
        QVERIFY(rig.server.command(QStringLiteral("putRecord"), {{QStringLiteral("record"), bo}}));
        QVERIFY(rig.until([&] { return rig.client->remoteUsers.get().size() == 2; }));
        QCOMPARE(rig.client->isConnected.get(), true);
        QVERIFY(!rig.client->hasPendingReconnect());
    }

    void oversizedMessageEndsInAReceiveErrorAndAReconnect()
    {
        Rig rig;
        QVERIFY(rig.start(test::TeamServerProcess::defaultToken(), test::TeamServerProcess::defaultToken()));
        QVERIFY(rig.connectedWithOwnRecord());
        QVERIFY(rig.server.command(QStringLiteral("sendFrame"),
                                   {{QStringLiteral("text"), QStringLiteral(R"({"type":"users","data":[]})")},
                                    {QStringLiteral("padTo"), double(maxIncomingWebSocketBytes + 1)}}));
        QVERIFY(rig.until([&] { return rig.client->hasPendingReconnect(); }, 20'000));
        QCOMPARE(rig.client->remoteUsers.get().size(), 1);
        rig.scheduler.advance(3s);
        QVERIFY(rig.until([&] { return rig.handshakes() == 2; }));
        QVERIFY(rig.connectedWithOwnRecord());
    }

    void stalledHandshakeFailsAfterItsDeadline()
    {
        Rig rig;
        QVERIFY(rig.server.start());
        QVERIFY(rig.server.command(QStringLiteral("stallHandshake"), {{QStringLiteral("on"), true}}));
        QVERIFY(rig.startClient(test::TeamServerProcess::defaultToken()));
        QVERIFY(rig.server.waitForEvent(QStringLiteral("ws-handshake")));
        rig.scheduler.advance(59s);
        QTest::qWait(50);
        QVERIFY(!rig.client->hasPendingReconnect());
        QTest::ignoreMessage(QtCriticalMsg,
                             "WebSocket receive error: The WebSocket opening handshake timed out");
        QTest::ignoreMessage(QtCriticalMsg,
                             "Failed to send join message: The WebSocket opening handshake timed out");
        rig.scheduler.advance(1s);
        QVERIFY(rig.until([&] { return rig.client->hasPendingReconnect(); }));
        QVERIFY(rig.server.command(QStringLiteral("stallHandshake"), {{QStringLiteral("on"), false}}));
        rig.scheduler.advance(3s);
        QVERIFY(rig.connectedWithOwnRecord());
    }
};

QTEST_GUILESS_MAIN(TestNetIntegration)
#include "tst_integration.moc"
