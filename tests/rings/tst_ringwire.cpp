#include "RingTestSupport.h"

#include "LogRecorder.h"
#include "MiniHttpServer.h"
#include "platform/http/QtHttpClient.h"
#include "records/PhotoDecoder.h"

#include <QRegularExpression>
#include <QTest>

using namespace pondra;
using namespace std::chrono_literals;
using test::HttpRequestHead;
using test::HttpResponseSpec;
using test::MiniHttpServer;

/// The manager with the real HTTP client talking to a server on loopback;
/// time itself stays virtual.
struct WireHarness
{
    MiniHttpServer server;
    QtHttpClient realHttp;
    test::CountingHttpClient http{realHttp};
    VirtualScheduler scheduler;
    FakeSoundPlayer sound;
    FakeUrlOpener opener;
    test::RingInputs inputs;
    std::unique_ptr<RingManager> manager;

    bool start(HttpResponseSpec answer)
    {
        server.setHandler([answer](const HttpRequestHead&) { return answer; });
        if (!server.listen())
            return false;
        inputs.ringURL = server.url(QStringLiteral("/pondra/ring"));
        inputs.ringResponseURL = server.url(QStringLiteral("/pondra/ring-response"));
        manager = inputs.makeManager({&http, &sound, &opener, &scheduler});
        return true;
    }

    /// Rings this user and answers at once, as the card's button would.
    void ringAndAnswer(bool accepted)
    {
        QTest::ignoreMessage(QtInfoMsg, "showRingNotification called from: Bob");
        manager->showRingNotification(QStringLiteral("Bob"), std::nullopt, std::nullopt);
        if (accepted)
            manager->acceptRing();
        else
            scheduler.advance(RingManager::autoDeclineDelay);
    }

    bool waitForReplies(int count)
    {
        return QTest::qWaitFor([&] { return http.finished >= count; }, 10'000);
    }

    static QJsonObject json(const HttpRequestHead& request)
    {
        return QJsonDocument::fromJson(request.body).object();
    }
};

class TestRingWire : public QObject
{
    Q_OBJECT

    // Every line of each test; none may hold the token.
    std::optional<test::LogRecorder> m_log;

private Q_SLOTS:
    void init() { m_log.emplace(); }
    void cleanup()
    {
        m_log->expectNoLineContains({QStringLiteral("s3cret-token-value")});
        m_log.reset();
    }

    void ringRequest_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("withPhoto");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QByteArray>("authorization");
        QTest::newRow("bare, no token")
            << QString() << false << QString() << QStringList{"from", "fromId", "to"} << QByteArray();
        QTest::newRow("e-mail and photo, token") << "ann@example.com" << true << "s3cret-token-value"
                                                 << QStringList{"email", "from", "fromId", "photo", "to"}
                                                 << QByteArray("Bearer s3cret-token-value");
        QTest::newRow("photo only, placeholder token")
            << QString() << true << "{{PONDRA_API_TOKEN}}" << QStringList{"from", "fromId", "photo", "to"}
            << QByteArray();
        QTest::newRow("e-mail only, short token")
            << "ann@example.com" << false << "abc" << QStringList{"email", "from", "fromId", "to"}
            << QByteArray("Bearer abc");
    }
    void ringRequest()
    {
        QFETCH(QString, email);
        QFETCH(bool, withPhoto);
        QFETCH(QString, token);
        QFETCH(QStringList, keys);
        QFETCH(QByteArray, authorization);
        WireHarness h;
        QVERIFY(h.start({200, "{\"ok\":true}"}));
        h.inputs.userEmail = email;
        h.inputs.apiToken = token;
        if (withPhoto) {
            QImage photo(64, 48, QImage::Format_RGB32);
            photo.fill(Qt::blue);
            h.inputs.photo = photo;
        }
        h.manager->sendRing(QStringLiteral("Bob"));
        QVERIFY(h.waitForReplies(1));
        QCOMPARE(h.server.requests().size(), 1);
        const HttpRequestHead& request = h.server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/pondra/ring"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.contains("authorization"), !authorization.isEmpty());
        if (!authorization.isEmpty())
            QCOMPARE(request.headers.value("authorization"), authorization);
        const QJsonObject body = WireHarness::json(request);
        QCOMPARE(body.keys(), keys);
        QCOMPARE(body.value("from").toString(), h.inputs.userName);
        QCOMPARE(body.value("fromId").toString(), h.inputs.userId);
        QCOMPARE(body.value("to").toString(), QStringLiteral("Bob"));
        if (!email.isEmpty())
            QCOMPARE(body.value("email").toString(), email);
        if (withPhoto) {
            const QString photoText = body.value("photo").toString();
            QVERIFY(isStrictBase64(photoText));
            QCOMPARE(decodePhotoText(photoText)->size(), QSize(64, 48));
        }
        QCOMPARE(h.manager->waitingForResponse.get(),
                 std::optional<QString>(QStringLiteral("Checking with Bob...")));
    }

    void answerRequest_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("token");
        QTest::newRow("accepted, token") << true << "s3cret-token-value";
        QTest::newRow("declined, no token") << false << QString();
    }
    void answerRequest()
    {
        QFETCH(bool, accepted);
        QFETCH(QString, token);
        WireHarness h;
        QVERIFY(h.start({200, "{\"ok\":true}"}));
        h.inputs.apiToken = token;
        h.inputs.userEmail = QStringLiteral("not-sent@example.com");
        h.ringAndAnswer(accepted);
        QVERIFY(h.waitForReplies(1));
        QCOMPARE(h.server.requests().size(), 1);
        const HttpRequestHead& request = h.server.requests().first();
        QCOMPARE(request.target, QByteArray("/pondra/ring-response"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("authorization"),
                 token.isEmpty() ? QByteArray() : "Bearer " + token.toUtf8());
        QCOMPARE(WireHarness::json(request),
                 (QJsonObject{{"from", "Ann"}, {"to", "Bob"}, {"accepted", accepted}}));
    }

    void replyToAnAcceptedAnswer_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("opens");
        auto withLink = [](QByteArray body) { return body.replace("LINK", "https://meet.example.com/abc"); };
        QTest::newRow("ok true with url")
            << true << 200 << withLink("{\"ok\":true,\"url\":\"LINK\"}") << true;
        QTest::newRow("ok false with url")
            << true << 200 << withLink("{\"ok\":false,\"url\":\"LINK\",\"extra\":1}") << true;
        QTest::newRow("url without ok") << true << 200 << withLink("{\"url\":\"LINK\"}") << false;
        QTest::newRow("ok without url") << true << 200 << QByteArray("{\"ok\":true}") << false;
        QTest::newRow("url null") << true << 200 << QByteArray("{\"ok\":true,\"url\":null}") << false;
        QTest::newRow("ok not a boolean")
            << true << 200 << withLink("{\"ok\":\"yes\",\"url\":\"LINK\"}") << false;
        QTest::newRow("url not a string") << true << 200 << QByteArray("{\"ok\":true,\"url\":7}") << false;
        QTest::newRow("not JSON") << true << 200 << QByteArray("ok") << false;
        QTest::newRow("status 201") << true << 201 << withLink("{\"ok\":true,\"url\":\"LINK\"}") << false;
        QTest::newRow("status 500") << true << 500 << withLink("{\"ok\":true,\"url\":\"LINK\"}") << false;
        QTest::newRow("decline is not read")
            << false << 200 << withLink("{\"ok\":true,\"url\":\"LINK\"}") << false;
    }
    void replyToAnAcceptedAnswer()
    {
        QFETCH(bool, accepted);
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(bool, opens);
        WireHarness h;
        QVERIFY(h.start({status, reply}));
        h.inputs.userEmail = QStringLiteral("ann@example.com");
        if (status != 200)
            QTest::ignoreMessage(
                QtCriticalMsg,
                qPrintable(QStringLiteral("Ring response failed with status: %1").arg(status)));
        h.ringAndAnswer(accepted);
        QVERIFY(h.waitForReplies(1));
        if (opens)
            QCOMPARE(
                h.opener.opened,
                QList<QUrl>{QUrl(QStringLiteral("https://meet.example.com/abc?authuser=ann@example.com"))});
        else
            QVERIFY(h.opener.opened.isEmpty());
    }

    void refusedRingShowsTheServersText()
    {
        WireHarness h;
        QVERIFY(h.start({409, "{\"error\":\"Bob is not connected\"}"}));
        QTest::ignoreMessage(QtCriticalMsg, "Ring failed with status: 409");
        h.manager->sendRing(QStringLiteral("Bob"));
        QVERIFY(h.waitForReplies(1));
        QCOMPARE(h.manager->waitingForResponse.get(),
                 std::optional<QString>(QStringLiteral("Bob is not connected")));
        h.scheduler.advance(3s);
        QVERIFY(!h.manager->waitingForResponse.get());
    }

    void realBackendsByDefault()
    {
        // A reply that never comes: the manager must go away cleanly while
        // its request is still out.
        MiniHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const HttpRequestHead&) { return HttpResponseSpec{200, {}, {}, true}; });
        test::RingInputs inputs;
        inputs.ringURL = server.url(QStringLiteral("/pondra/ring"));
        auto manager = inputs.makeManager({});
        manager->sendRing(QStringLiteral("Bob"));
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, 10'000);
        QCOMPARE(WireHarness::json(server.requests().first()).value("to").toString(), QStringLiteral("Bob"));
        manager.reset();
        QTest::qWait(50);
    }

    void transportFailuresAreLogged()
    {
        WireHarness h;
        QVERIFY(h.start({200, {}}));
        // Point both addresses at a port that nobody listens on any more.
        QUrl closed;
        {
            MiniHttpServer gone;
            QVERIFY(gone.listen());
            closed = gone.url(QStringLiteral("/pondra/ring"));
        }
        h.inputs.ringURL = closed;
        h.inputs.ringResponseURL = closed;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to send ring: .+")));
        h.manager->sendRing(QStringLiteral("Bob"));
        QVERIFY(h.waitForReplies(1));
        QCOMPARE(h.manager->waitingForResponse.get(),
                 std::optional<QString>(QStringLiteral("Checking with Bob...")));
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("^Failed to send ring response: .+")));
        h.ringAndAnswer(true);
        QVERIFY(h.waitForReplies(2));
        QVERIFY(h.opener.opened.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRingWire)
#include "tst_ringwire.moc"
