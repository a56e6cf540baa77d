// The QWebSocket adapter: later-turn completions, held messages, one failure per socket.
#include "TeamServerProcess.h"

#include "platform/websocket/QtWebSocket.h"

#include <QtTest>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

/// A socket to the local team server that has joined and had the server's answer.
struct JoinedSocket
{
    test::TeamServerProcess server;
    VirtualScheduler scheduler;
    std::shared_ptr<WebSocketConnection> socket;

    bool start()
    {
        if (!server.start(QString()))
            return false;
        QUrl url = server.url(QStringLiteral("/pondra/ws"));
        url.setScheme(QStringLiteral("ws"));
        socket = QtWebSocketFactory(scheduler).create(url);
        auto answer = std::make_shared<std::optional<WebSocketReceiveResult>>();
        socket->open();
        socket->sendText(QStringLiteral(R"({"type":"join","team":"T"})"), {});
        socket->receive([answer](const WebSocketReceiveResult& r) { *answer = r; });
        // The join was held until the handshake completed, and the server answered it.
        return QTest::qWaitFor([&] { return answer->has_value(); }, 10'000) &&
               (*answer)->kind == WebSocketReceiveResult::Kind::Text;
    }
};

} // namespace

class TestWebSocket final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void invalidAddressFailsOnALaterTurn()
    {
        VirtualScheduler scheduler;
        QtWebSocketFactory factory(scheduler);
        auto socket = factory.create(QUrl(QStringLiteral("http://example.org/not-a-websocket")));
        QList<WebSocketReceiveResult> results;
        QStringList sendErrors;
        socket->open();
        socket->sendText(QStringLiteral("{}"), [&](const std::optional<QString>& e) { sendErrors.append(e.value_or(QStringLiteral("ok"))); });
        socket->receive([&](const WebSocketReceiveResult& r) { results.append(r); });
        QVERIFY(results.isEmpty());
        QTRY_COMPARE(results.size(), 1);
        QCOMPARE(results.first().kind, WebSocketReceiveResult::Kind::Error);
        QCOMPARE(sendErrors, QStringList{QStringLiteral("Invalid WebSocket address")});
        // The socket has ended: a later ping reports nothing more.
        int pongs = 0;
        socket->sendPing([&](const std::optional<QString>&) { ++pongs; });
        QTest::qWait(20);
        QCOMPARE(pongs, 0);
    }

    void refusedHandshakeFailsTheReceiveAndTheHeldSend()
    {
        test::TeamServerProcess server;
        QVERIFY(server.start());
        QVERIFY(server.command(QStringLiteral("refuseHandshake"), {{QStringLiteral("status"), 503}}));
        VirtualScheduler scheduler;
        QUrl url = server.url(QStringLiteral("/pondra/ws"));
        url.setScheme(QStringLiteral("ws"));
        auto socket = QtWebSocketFactory(scheduler).create(url);
        int failures = 0;
        QStringList sendErrors;
        socket->open();
        socket->sendText(QStringLiteral("{}"), [&](const std::optional<QString>& e) { sendErrors.append(e.value_or(QString())); });
        socket->receive([&](const WebSocketReceiveResult& r) { failures += r.kind == WebSocketReceiveResult::Kind::Error; });
        QTRY_COMPARE(failures, 1);
        QCOMPARE(sendErrors.size(), 1);
        QVERIFY(!sendErrors.first().isEmpty());
        QTest::qWait(100);
        QCOMPARE(failures, 1);
        QCOMPARE(server.events(QStringLiteral("ws-open")).size(), 0);
    }

    void closeCompletesTheOutstandingReceiveLater()
    {
        JoinedSocket joined;
        QVERIFY(joined.start());
        auto& [server, scheduler, socket] = joined;
        std::optional<WebSocketReceiveResult> result;
        socket->receive([&](const WebSocketReceiveResult& r) { result = r; });
        socket->close(1001);
        QVERIFY(!result);
        socket.reset(); // the owner lets go at once; the completion still comes
        QTRY_VERIFY(result.has_value());
        QCOMPARE(result->kind, WebSocketReceiveResult::Kind::Error);
        QVERIFY(server.waitForEvent(QStringLiteral("ws-close"),
                                    [](const QJsonObject& e) { return e.value(QStringLiteral("code")).toInt() == 1001; }));
    }

    void messagesWaitingToBeReceivedAreBounded()
    {
        JoinedSocket joined;
        QVERIFY(joined.start());
        auto& [server, scheduler, socket] = joined;

        // Nobody asks for the next message while three of 12 MiB arrive: the
        // third would make 36 MiB wait, so the connection ends as "too big".
        constexpr qint64 messageBytes = 12 * 1024 * 1024;
        static_assert(3 * messageBytes > maxWaitingWebSocketBytes && 2 * messageBytes <= maxWaitingWebSocketBytes);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(server.command(QStringLiteral("sendFrame"),
                                   {{QStringLiteral("text"), QStringLiteral("{}")},
                                    {QStringLiteral("padTo"), double(messageBytes)}}));
        }
        QVERIFY(server.waitForEvent(QStringLiteral("ws-close"), [](const QJsonObject& e) {
            return e.value(QStringLiteral("code")).toInt() == 1009;
        }));

        // The two that fitted are still handed out, then the failure.
        QList<WebSocketReceiveResult> results;
        const std::function<void(const WebSocketReceiveResult&)> next = [&](const WebSocketReceiveResult& r) {
            results.append(r);
            if (r.kind != WebSocketReceiveResult::Kind::Error)
                socket->receive(next);
        };
        socket->receive(next);
        QTRY_COMPARE(results.size(), 3);
        QCOMPARE(results[0].text.size(), messageBytes);
        QCOMPARE(results[1].text.size(), messageBytes);
        QCOMPARE(results[2].kind, WebSocketReceiveResult::Kind::Error);
        QCOMPARE(results[2].errorText, QStringLiteral("More than 32 MiB of WebSocket messages waiting to be received"));
    }
};

QTEST_GUILESS_MAIN(TestWebSocket)
#include "tst_websocket.moc"
