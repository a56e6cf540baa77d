// NetworkClient on virtual time with scripted sockets, path and HTTP.
#include "platform/http/FakeHttpClient.h"

#include "LogRecorder.h"

#include "net/NetworkClient.h"
#include "platform/netpath/PathMonitor.h"
#include "platform/websocket/FakeWebSocket.h"

#include <QJsonDocument>
#include <QtTest>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

struct Harness
{
    VirtualScheduler scheduler;
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
    std::shared_ptr<FakeWebSocketFactory> sockets = std::make_shared<FakeWebSocketFactory>();
    std::shared_ptr<FakePathMonitor> path = std::make_shared<FakePathMonitor>();
    std::optional<QUrl> wsUrl = QUrl(QStringLiteral("wss://example.org/pondra/ws?token=abc"));
    QString team = QStringLiteral("Team A");
    QString user = QStringLiteral("Ana");
    QString token = QStringLiteral("secret-token");
    UpdatePayload answer{true, QJsonObject{{QStringLiteral("id"), QStringLiteral("U1")}}, LastSentState{}};
    QList<bool> payloadRequests;
    QStringList rings;
    QStringList ringResponses;
    std::unique_ptr<NetworkClient> client;

    Harness()
    {
        answer.state->name = QStringLiteral("Ana");
        NetworkClient::Callbacks callbacks;
        callbacks.getWsURL = [this] { return wsUrl; };
        callbacks.getTeamsURL = [] { return std::optional(QUrl(QStringLiteral("https://example.org/pondra/teams"))); };
        callbacks.getServerURL = [] { return std::optional(QUrl(QStringLiteral("https://example.org/pondra/update"))); };
        callbacks.getTeamName = [this] { return team; };
        callbacks.getApiToken = [this] { return token; };
        callbacks.getUserName = [this] { return user; };
        callbacks.onRingReceived = [this](const QString& from, const std::optional<QString>& url,
                                          const std::optional<QString>& photo) {
            rings.append(from + QLatin1Char('|') + url.value_or(QStringLiteral("<none>")) + QLatin1Char('|')
                         + photo.value_or(QStringLiteral("<none>")));
        };
        callbacks.onRingResponseReceived = [this](const QString& from, bool accepted, const std::optional<QString>& url) {
            ringResponses.append(from + QLatin1Char('|') + (accepted ? QStringLiteral("yes") : QStringLiteral("no"))
                                 + QLatin1Char('|') + url.value_or(QStringLiteral("<none>")));
        };
        callbacks.getUpdatePayload = [this](bool force, std::function<void(const UpdatePayload&)> done) {
            payloadRequests.append(force);
            done(answer);
        };
        client = std::make_unique<NetworkClient>(std::move(callbacks),
                                                 NetworkClient::Backends{http, sockets, path, &scheduler});
    }

    std::shared_ptr<FakeWebSocket> socket() const { return sockets->latest(); }
    void connect()
    {
        client->connect();
        path->report({true, {QStringLiteral("eth0")}});
    }
};

QString usersText(const QStringList& names)
{
    QJsonArray data;
    for (const QString& name : names) {
        data.append(QJsonObject{{QStringLiteral("id"), name}, {QStringLiteral("name"), name},
                                {QStringLiteral("team"), QStringLiteral("Team A")}, {QStringLiteral("isPondra"), true},
                                {QStringLiteral("isIdle"), false}, {QStringLiteral("idleState"), QStringLiteral("active")},
                                {QStringLiteral("idleSeconds"), 0}, {QStringLiteral("lastUpdate"), QStringLiteral("now")}});
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("users")},
                                                       {QStringLiteral("data"), data}})
                                 .toJson(QJsonDocument::Compact));
}

} // namespace

class TestNetworkClient final : public QObject
{
    Q_OBJECT

    // Every line of each test; none may hold the token, in a header or an address.
    std::optional<test::LogRecorder> m_log;

private Q_SLOTS:
    void init() { m_log.emplace(); }
    void cleanup()
    {
        m_log->expectNoLineContains({QStringLiteral("secret-token"), QStringLiteral("token=abc")});
        m_log.reset();
    }

    void constructionStartsNothing()
    {
        Harness h;
        QCOMPARE(h.sockets->count(), 0);
        QVERIFY(!h.path->isStarted());
        QCOMPARE(h.client->availableTeams.get(), QStringList{QStringLiteral("Default")});
        QCOMPARE(h.client->isConnected.get(), false);
        QCOMPARE(h.scheduler.pendingCount(), 0);
    }

    void connectIssuesEverythingBeforeTheHandshake()
    {
        Harness h;
        QTest::ignoreMessage(QtInfoMsg, "WebSocket connected to example.org, resyncing state");
        QTest::ignoreMessage(QtInfoMsg, "Network path satisfied (interface: eth0)");
        h.connect();
        QVERIFY(h.path->isStarted());
        QCOMPARE(h.sockets->count(), 1);
        const auto socket = h.socket();
        QVERIFY(socket->isOpened());
        QCOMPARE(socket->url(), *h.wsUrl);
        QCOMPARE(socket->sentTexts().size(), 1);
        const QJsonObject join = QJsonDocument::fromJson(socket->sentTexts().first().toUtf8()).object();
        QCOMPARE(join, (QJsonObject{{QStringLiteral("type"), QStringLiteral("join")}, {QStringLiteral("team"), h.team}}));
        QVERIFY(socket->hasPendingReceive());
        // Team list and a forced upload on every connect.
        QCOMPARE(h.http->count("GET"), 1);
        QCOMPARE(h.http->requests()[0].url.path(), QStringLiteral("/pondra/teams"));
        QCOMPARE(h.payloadRequests, QList<bool>{true});
        QCOMPARE(h.http->count("POST"), 1);
        QCOMPARE(h.http->requests()[1].apiToken, h.token);
        QCOMPARE(h.client->lastSentState()->name, QStringLiteral("Ana"));
        // The first satisfied path causes no second connect, and the handshake sets no mark.
        QCOMPARE(h.sockets->count(), 1);
        QCOMPARE(h.client->isConnected.get(), false);
        QVERIFY(socket->deliverText(usersText({QStringLiteral("Bo")})));
        QCOMPARE(h.client->isConnected.get(), true);
        QVERIFY(socket->hasPendingReceive());
        QCOMPARE(h.client->remoteUsers.get().size(), 1);
    }

    void unusableAddressFailsLikeAConnection()
    {
        Harness h;
        h.wsUrl.reset();
        QTest::ignoreMessage(QtInfoMsg, "WebSocket connected to unknown, resyncing state");
        h.client->connect();
        QVERIFY(!h.socket()->url().isValid());
        QTest::ignoreMessage(QtCriticalMsg, "WebSocket receive error: Invalid WebSocket address");
        QTest::ignoreMessage(QtInfoMsg, "Scheduling WebSocket reconnect in 3.000000s (attempt 1)...");
        h.socket()->failReceive(QStringLiteral("Invalid WebSocket address"));
        QVERIFY(h.client->hasPendingReconnect());
    }

    void backOffAfterReceiveFailure()
    {
        Harness h;
        h.connect();
        const auto first = h.socket();
        first->deliverText(usersText({}));
        h.scheduler.advance(29s);
        QTest::ignoreMessage(QtCriticalMsg, "WebSocket receive error: reset by peer");
        QTest::ignoreMessage(QtInfoMsg, "Scheduling WebSocket reconnect in 3.000000s (attempt 1)...");
        first->failReceive(QStringLiteral("reset by peer"));
        QCOMPARE(h.client->isConnected.get(), false);
        QCOMPARE(h.client->reconnectAttempt(), 1);
        // The ping loop ended with the back-off: the socket is pinged no more.
        h.scheduler.advance(1s);
        QCOMPARE(first->pingCount(), 0);
        h.scheduler.advance(1999ms);
        QCOMPARE(h.sockets->count(), 1);
        h.scheduler.advance(1ms);
        QCOMPARE(h.sockets->count(), 2);
        QCOMPARE(first->closeCode(), std::optional<int>(1001));
        QCOMPARE(h.client->reconnectAttempt(), 0);
        QCOMPARE(h.http->count("GET"), 2);
        QCOMPARE(h.payloadRequests.size(), 2);
        QCOMPARE(m_log->errors(), QStringList{QStringLiteral("WebSocket receive error: reset by peer")});
    }

    void receiveAndPingFailureOfOneSocketScheduleOneBackOff()
    {
        Harness h;
        h.connect();
        h.scheduler.advance(30s);
        QCOMPARE(h.socket()->pingCount(), 1);
        h.socket()->failReceive(QStringLiteral("gone"));
        // The ping failure of the same socket finds the back-off pending: no second schedule.
        QTest::ignoreMessage(QtCriticalMsg, "WebSocket ping failed: no pong");
        h.socket()->answerPing(0, QStringLiteral("no pong"));
        QCOMPARE(h.client->reconnectAttempt(), 1);
        QCOMPARE(m_log->texts(QtInfoMsg).filter(QStringLiteral("Scheduling WebSocket reconnect")).size(), 1);
        h.scheduler.advance(3s);
        QCOMPARE(h.sockets->count(), 2);
        // The old socket's ping loop ended with the back-off: only the new one pings.
        h.scheduler.advance(30s);
        QCOMPARE(h.sockets->created()[0]->pingCount(), 1);
        QCOMPARE(h.socket()->pingCount(), 1);
    }

    void pingFailureKeepsSocketOpenUntilTheDelayedConnect()
    {
        Harness h;
        h.connect();
        h.socket()->deliverText(usersText({}));
        h.scheduler.advance(30s);
        h.socket()->answerPing(0);
        QCOMPARE(h.client->isConnected.get(), true);
        h.scheduler.advance(30s);
        QTest::ignoreMessage(QtCriticalMsg, "WebSocket ping failed: timed out");
        h.socket()->answerPing(1, QStringLiteral("timed out"));
        QCOMPARE(h.client->isConnected.get(), false);
        QVERIFY(!h.socket()->closeCode());
        // A frame that still arrives on the old socket sets the mark; the wait goes on.
        h.socket()->deliverText(usersText({}));
        QCOMPARE(h.client->isConnected.get(), true);
        h.scheduler.advance(3s);
        QCOMPARE(h.sockets->count(), 2);
        QCOMPARE(h.sockets->created()[0]->closeCode(), std::optional<int>(1001));
    }

    void forcedReconnectsCoalesce()
    {
        Harness h;
        h.connect();
        h.socket()->deliverText(usersText({}));
        h.client->reconnect();
        QCOMPARE(h.sockets->created()[0]->closeCode(), std::optional<int>(1001));
        QCOMPARE(h.client->isConnected.get(), true);
        h.scheduler.advance(200ms);
        h.client->reconnect();
        h.scheduler.advance(499ms);
        QCOMPARE(h.sockets->count(), 1);
        h.scheduler.advance(1ms);
        QCOMPARE(h.sockets->count(), 2);
        QCOMPARE(h.client->isConnected.get(), true);
        h.scheduler.advance(10s);
        QCOMPARE(h.sockets->count(), 2);
    }

    void reconnectReplacesBackOff()
    {
        Harness h;
        h.connect();
        h.socket()->failReceive(QStringLiteral("x"));
        h.scheduler.advance(1s);
        h.client->reconnect();
        h.scheduler.advance(500ms);
        QCOMPARE(h.sockets->count(), 2);
        h.scheduler.advance(10s);
        QCOMPARE(h.sockets->count(), 2);
    }

    void lateCompletionOfReplacedSocketIsIgnored()
    {
        Harness h;
        h.connect();
        const auto old = h.socket();
        old->deliverText(usersText({}));
        h.client->reconnect();
        h.scheduler.advance(500ms);
        QTest::ignoreMessage(QtDebugMsg, "Ignoring callback from old WebSocket task");
        old->failReceive(QStringLiteral("cancelled"));
        QCOMPARE(h.client->isConnected.get(), true);
        QVERIFY(!h.client->hasPendingReconnect());
        QCOMPARE(h.client->reconnectAttempt(), 0);
    }

    void offlinePausesAndReturnReconnects()
    {
        Harness h;
        h.connect();
        h.socket()->deliverText(usersText({}));
        h.socket()->failReceive(QStringLiteral("x"));
        QVERIFY(h.client->hasPendingReconnect());
        QTest::ignoreMessage(QtInfoMsg, "Network path unsatisfied — pausing reconnect attempts");
        h.path->report({false, {}});
        QVERIFY(!h.client->hasPendingReconnect());
        QCOMPARE(h.client->isConnected.get(), false);
        h.scheduler.advance(120s);
        QCOMPARE(h.sockets->count(), 1);

        QTest::ignoreMessage(QtInfoMsg, "Network path satisfied (interface: )");
        QTest::ignoreMessage(QtInfoMsg, "Network restored, triggering immediate reconnect");
        h.path->report({true, {}});
        h.scheduler.advance(499ms);
        QCOMPARE(h.sockets->count(), 1);
        h.scheduler.advance(1ms);
        QCOMPARE(h.sockets->count(), 2);
    }

    void failureWhileOfflineSchedulesNothing()
    {
        Harness h;
        h.client->connect();
        h.path->report({false, {}});
        // The offline report ended the new socket's ping loop.
        h.scheduler.advance(30s);
        QCOMPARE(h.socket()->pingCount(), 0);
        QTest::ignoreMessage(QtInfoMsg, "Network unavailable, skipping reconnect (will resume when network returns)");
        h.socket()->failReceive(QStringLiteral("down"));
        QCOMPARE(h.client->reconnectAttempt(), 0);
        QVERIFY(!h.client->hasPendingReconnect());
        QCOMPARE(h.client->isConnected.get(), false);
        QTest::ignoreMessage(QtInfoMsg, "Network path satisfied (interface: wlan0)");
        QTest::ignoreMessage(QtInfoMsg, "Network restored, triggering immediate reconnect");
        h.path->report({true, {QStringLiteral("wlan0")}});
        h.scheduler.advance(500ms);
        QCOMPARE(h.sockets->count(), 2);
    }

    void dispatch_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QStringList>("rings");
        QTest::addColumn<QStringList>("responses");
        const QString ana = QStringLiteral("Ana");
        QTest::newRow("ring to me") << ana << R"({"type":"ring","from":"Bo","to":"Ana","url":null,"id":7})" << QStringList{"Bo|<none>|<none>"} << QStringList{};
        QTest::newRow("ring with link and photo") << ana << R"({"type":"ring","from":"Bo","to":"Ana","url":"https:\/\/m\/x","photo":"AAAA"})" << QStringList{"Bo|https://m/x|AAAA"} << QStringList{};
        QTest::newRow("ring to other case") << ana << R"({"type":"ring","from":"Bo","to":"ana"})" << QStringList{} << QStringList{};
        QTest::newRow("ring to trailing blank") << ana << R"({"type":"ring","from":"Bo","to":"Ana "})" << QStringList{} << QStringList{};
        QTest::newRow("ring url number") << ana << R"({"type":"ring","from":"Bo","to":"Ana","url":5})" << QStringList{} << QStringList{};
        QTest::newRow("response") << ana << R"({"type":"ring-response","from":"Bo","to":"Ana","accepted":false})" << QStringList{} << QStringList{"Bo|no|<none>"};
        QTest::newRow("response accepted text") << ana << R"({"type":"ring-response","from":"Bo","to":"Ana","accepted":"true"})" << QStringList{} << QStringList{};
        // Names are compared by canonical equivalence, as the user typed them.
        QTest::newRow("decomposed name to a composed user") << QStringLiteral("Jos\u00e9") << QStringLiteral(R"({"type":"ring","from":"Bo","to":"Jose\u0301"})") << QStringList{"Bo|<none>|<none>"} << QStringList{};
        QTest::newRow("composed name to a decomposed user") << QStringLiteral("Jose\u0301") << QStringLiteral(R"({"type":"ring-response","from":"Bo","to":"Jos\u00e9","accepted":true})") << QStringList{} << QStringList{"Bo|yes|<none>"};
        QTest::newRow("another name that looks alike") << QStringLiteral("Jos\u00e9") << QStringLiteral(R"({"type":"ring","from":"Bo","to":"Jose\u0300"})") << QStringList{} << QStringList{};
    }

    void dispatch()
    {
        QFETCH(QString, user);
        QFETCH(QString, frame);
        QFETCH(QStringList, rings);
        QFETCH(QStringList, responses);
        Harness h;
        h.user = user;
        h.connect();
        QVERIFY(h.socket()->deliverText(frame));
        QCOMPARE(h.rings, rings);
        QCOMPARE(h.ringResponses, responses);
        QVERIFY(h.socket()->hasPendingReceive());
        // Each is a message of a known type: none is an error, dropped or not.
        QCOMPARE(m_log->errors(), QStringList{});
    }

    void framesThatAreDroppedKeepTheLoopGoing()
    {
        Harness h;
        h.connect();
        h.socket()->deliverText(usersText({QStringLiteral("Bo")}));
        QTest::ignoreMessage(QtCriticalMsg, "Failed to decode WebSocket message type");
        h.socket()->deliverText(QStringLiteral("[1,2]"));
        QTest::ignoreMessage(QtCriticalMsg, "Failed to decode WebSocket message type");
        h.socket()->deliverText(QStringLiteral(R"({"type":3})"));
        QTest::ignoreMessage(QtDebugMsg, "Unknown WebSocket message type: Users");
        h.socket()->deliverText(QStringLiteral(R"({"type":"Users","data":[]})"));
        // Not UTF-8: dropped without a word.
        h.socket()->deliverData(QByteArray("\xff\xfe{\"type\":\"users\"}", 17));
        // One bad record drops the whole message.
        QString bad = usersText({QStringLiteral("Cy"), QStringLiteral("Di")});
        bad.replace(bad.indexOf(QStringLiteral("\"lastUpdate\"")), 19, QString());
        h.socket()->deliverText(bad);
        QCOMPARE(h.client->remoteUsers.get().size(), 1);
        QCOMPARE(h.client->isConnected.get(), true);
        // A data frame holding UTF-8 text counts like a text frame.
        h.socket()->deliverData(usersText({QStringLiteral("Cy"), QStringLiteral("Di")}).toUtf8());
        QCOMPARE(h.client->remoteUsers.get().size(), 2);
        QCOMPARE(h.client->remoteUsers.get()[1].name, QStringLiteral("Di"));
        h.socket()->deliverText(usersText({}));
        QVERIFY(h.client->remoteUsers.get().isEmpty());
        QVERIFY(h.socket()->hasPendingReceive());
        // Only the two undecodable frames are errors; the rest go without a word.
        QCOMPARE(m_log->errors(), (QStringList{QStringLiteral("Failed to decode WebSocket message type"),
                                               QStringLiteral("Failed to decode WebSocket message type")}));
        QCOMPARE(m_log->texts(QtDebugMsg), QStringList{QStringLiteral("Unknown WebSocket message type: Users")});
    }

    void joinFailureOnlyLogs()
    {
        Harness h;
        h.team.clear();
        h.connect();
        QCOMPARE(h.socket()->sentTexts().first(), QStringLiteral(R"({"team":"","type":"join"})"));
        QTest::ignoreMessage(QtCriticalMsg, "Failed to send join message: broken pipe");
        h.socket()->completeSend(0, QStringLiteral("broken pipe"));
        QVERIFY(!h.client->hasPendingReconnect());
        h.client->sendJoin();
        QCOMPARE(h.socket()->sentTexts().size(), 2);
    }

    void teamList_data()
    {
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("teams");
        QTest::newRow("401 with names") << std::optional<int>(401) << QByteArray(R"(["B","A","B"])") << QStringList{"B", "A", "B"};
        QTest::newRow("empty array") << std::optional<int>(200) << QByteArray("[]") << QStringList{};
        QTest::newRow("object") << std::optional<int>(200) << QByteArray(R"({"teams":["A"]})") << QStringList{"Default"};
        QTest::newRow("non-text element") << std::optional<int>(200) << QByteArray(R"(["A",1])") << QStringList{"Default"};
        QTest::newRow("empty body") << std::optional<int>(200) << QByteArray() << QStringList{"Default"};
    }

    void teamList()
    {
        QFETCH(std::optional<int>, status);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, teams);
        Harness h;
        h.client->fetchTeams();
        h.http->answer(0, status, body);
        QCOMPARE(h.client->availableTeams.get(), teams);
        // A reply that is no list of names is dropped without a word.
        QCOMPARE(m_log->texts(), QStringList{});
    }

    void teamListTransportFailureLogs()
    {
        Harness h;
        h.client->fetchTeams();
        QTest::ignoreMessage(QtCriticalMsg, "Failed to fetch teams: Connection refused");
        h.http->answer(0, std::nullopt, {}, QStringLiteral("Connection refused"));
        QCOMPARE(h.client->availableTeams.get(), QStringList{QStringLiteral("Default")});
    }

    void update_data()
    {
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<QString>("log");
        QTest::newRow("200") << std::optional<int>(200) << QString();
        QTest::newRow("204") << std::optional<int>(204) << QStringLiteral("Server returned status: 204");
        QTest::newRow("500") << std::optional<int>(500) << QStringLiteral("Server returned status: 500");
        QTest::newRow("transport") << std::optional<int>() << QString();
    }

    void update()
    {
        QFETCH(std::optional<int>, status);
        QFETCH(QString, log);
        Harness h;
        h.client->sendUpdate();
        QCOMPARE(h.payloadRequests, QList<bool>{false});
        QCOMPARE(h.http->requests()[0].url.path(), QStringLiteral("/pondra/update"));
        QCOMPARE(QJsonDocument::fromJson(h.http->requests()[0].body).object(), *h.answer.payload);
        h.http->answer(0, status);
        QCOMPARE(h.client->lastSentState()->name, QStringLiteral("Ana"));
        QCOMPARE(m_log->texts(), log.isEmpty() ? QStringList{} : QStringList{log});
        QCOMPARE(m_log->errors(), log.isEmpty() ? QStringList{} : QStringList{log});
    }

    void nothingToSendSendsNothing()
    {
        Harness h;
        h.answer = {false, std::nullopt, std::nullopt};
        h.client->sendUpdate(false);
        QCOMPARE(h.http->requests().size(), 0);
        QVERIFY(!h.client->lastSentState());
        QCOMPARE(m_log->texts(), QStringList{});
    }

    void keepAliveWaitsAfterEachFinishedUpload()
    {
        Harness h;
        h.client->startKeepAlive();
        h.scheduler.advance(30s);
        h.client->startKeepAlive(); // restarts the wait; still one loop
        h.scheduler.advance(59999ms);
        QCOMPARE(h.http->count("POST"), 0);
        h.scheduler.advance(1ms);
        QCOMPARE(h.http->count("POST"), 1);
        QCOMPARE(h.payloadRequests, QList<bool>{true});
        // The next wait starts only once that upload has finished.
        h.scheduler.advance(120s);
        QCOMPARE(h.http->count("POST"), 1);
        h.http->answer(0, 200);
        h.scheduler.advance(59999ms);
        QCOMPARE(h.http->count("POST"), 1);
        h.scheduler.advance(1ms);
        QCOMPARE(h.http->count("POST"), 2);
        h.http->answer(1, std::nullopt);
        h.scheduler.advance(30s);
        h.client->stopKeepAlive();
        h.scheduler.advance(300s);
        QCOMPARE(h.http->count("POST"), 2);
        QVERIFY(!h.client->isKeepAliveRunning());
    }
};

QTEST_GUILESS_MAIN(TestNetworkClient)
#include "tst_networkclient.moc"
