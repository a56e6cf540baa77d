#include "platform/http/QtHttpClient.h"

#include "MiniHttpServer.h"

#include <QTest>

Q_DECLARE_METATYPE(pondra::test::HttpResponseSpec::Ending)

using namespace pondra;
using test::HttpResponseSpec;
using test::MiniHttpServer;

class TestHttpClient : public QObject
{
    Q_OBJECT

    static std::optional<HttpReply> await(std::function<void(HttpClient::Callback)> send)
    {
        std::optional<HttpReply> result;
        send([&](const HttpReply& reply) { result = reply; });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 10'000))
            return std::nullopt;
        return result;
    }

private Q_SLOTS:
    void statusAndHeaders_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("hasAuthorization");
        QTest::newRow("200 with token") << 200 << "tok" << true;
        QTest::newRow("401 keeps body") << 401 << "tok" << true;
        QTest::newRow("500 no token") << 500 << "" << false;
        QTest::newRow("placeholder") << 404 << "{{PONDRA_API_TOKEN}}" << false;
    }
    void statusAndHeaders()
    {
        QFETCH(int, status);
        QFETCH(QString, token);
        QFETCH(bool, hasAuthorization);
        MiniHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const test::HttpRequestHead&) { return HttpResponseSpec{status, R"({"error":"nope"})"}; });
        QtHttpClient client;
        QObject context;
        const auto reply = await([&](auto done) { client.postJson(server.url("/pondra/update"), R"({"a":1})", token, &context, done); });
        QVERIFY(reply);
        QCOMPARE(reply->status, std::optional<int>(status));
        QCOMPARE(reply->body, QByteArray(R"({"error":"nope"})"));
        QCOMPARE(server.requests().size(), 1);
        const auto& request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/pondra/update"));
        QCOMPARE(request.body, QByteArray(R"({"a":1})"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("user-agent"), QByteArray("Pondra/" PONDRA_VERSION));
        QCOMPARE(request.headers.contains("authorization"), hasAuthorization);
        if (hasAuthorization)
            QCOMPARE(request.headers.value("authorization"), "Bearer " + token.toUtf8());
    }

    void transportFailureHasNoStatus()
    {
        QtHttpClient client;
        QObject context;
        quint16 closedPort;
        {
            MiniHttpServer gone;
            QVERIFY(gone.listen());
            closedPort = gone.port();
        }
        const auto reply = await([&](auto done) {
            client.get(QUrl(QStringLiteral("http://127.0.0.1:%1/pondra/teams").arg(closedPort)), {}, &context, done);
        });
        QVERIFY(reply);
        QVERIFY(!reply->status);
        QVERIFY(!reply->errorText.isEmpty());

        const auto invalid = await([&](auto done) { client.get(QUrl(), {}, &context, done); });
        QVERIFY(invalid && !invalid->status);
    }

    void timesOut()
    {
        MiniHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const test::HttpRequestHead&) { return HttpResponseSpec{200, {}, {}, true}; });
        QtHttpClient client(QtHttpClient::Options{300, 5, 1024});
        QObject context;
        QElapsedTimer timer;
        timer.start();
        const auto reply = await([&](auto done) { client.get(server.url("/slow"), {}, &context, done); });
        QVERIFY(reply);
        QVERIFY(!reply->status);
        QVERIFY(timer.elapsed() >= 250);
    }

    void boundsTheReplyBody()
    {
        MiniHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const test::HttpRequestHead&) { return HttpResponseSpec{200, QByteArray(4096, 'x')}; });
        QtHttpClient client(QtHttpClient::Options{5000, 5, 1024});
        QObject context;
        const auto reply = await([&](auto done) { client.get(server.url("/big"), {}, &context, done); });
        QVERIFY(reply);
        QVERIFY(!reply->status);
    }

    void brokenTransferIsATransportFailure_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<HttpResponseSpec::Ending>("ending");
        // A cut-off 200 is no success, and a list cut short is no list.
        QTest::newRow("200 cut off") << 200 << HttpResponseSpec::Ending::CutAfterHalfTheBody;
        QTest::newRow("401 cut off") << 401 << HttpResponseSpec::Ending::CutAfterHalfTheBody;
        QTest::newRow("500 cut off") << 500 << HttpResponseSpec::Ending::CutAfterHalfTheBody;
        QTest::newRow("200, then silence until the time-out") << 200 << HttpResponseSpec::Ending::StallAfterHead;
    }
    void brokenTransferIsATransportFailure()
    {
        QFETCH(int, status);
        QFETCH(HttpResponseSpec::Ending, ending);
        MiniHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const test::HttpRequestHead&) {
            return HttpResponseSpec{status, R"(["Blue","Red","Green","Yellow"])", {}, false, ending};
        });
        QtHttpClient client(QtHttpClient::Options{500, 5, 1024});
        QObject context;
        const auto reply = await([&](auto done) { client.get(server.url("/pondra/teams"), {}, &context, done); });
        QVERIFY(reply);
        QCOMPARE(reply->status, std::nullopt);
        QVERIFY(!reply->errorText.isEmpty());
    }

    void redirectsNeverLoseSecurity_data()
    {
        QTest::addColumn<bool>("fromTls");
        QTest::addColumn<bool>("toTls");
        QTest::addColumn<bool>("followed");
        QTest::newRow("https to http refused") << true << false << false;
        QTest::newRow("https to https") << true << true << true;
        QTest::newRow("http to https") << false << true << true;
    }
    void redirectsNeverLoseSecurity()
    {
        QFETCH(bool, fromTls);
        QFETCH(bool, toTls);
        QFETCH(bool, followed);
        static const std::optional<test::TestCertificate> certificate = test::TestCertificate::make();
        QVERIFY2(certificate, "the openssl tool made no certificate");
        certificate->trustInThisProcess();
        MiniHttpServer from, to;
        QVERIFY(fromTls ? from.listenTls(*certificate) : from.listen());
        QVERIFY(toTls ? to.listenTls(*certificate) : to.listen());
        from.setHandler([&](const test::HttpRequestHead&) {
            return HttpResponseSpec{307, {}, {{"Location", to.url(QStringLiteral("/pondra/update")).toEncoded()}}};
        });
        to.setHandler([](const test::HttpRequestHead&) { return HttpResponseSpec{200, "done"}; });
        QtHttpClient client;
        QObject context;
        const auto reply = await([&](auto done) {
            client.postJson(from.url(QStringLiteral("/pondra/update")), R"({"email":"ana@example.org"})", "tok",
                            &context, done);
        });
        QVERIFY(reply);
        QCOMPARE(from.requests().size(), 1);
        QCOMPARE(reply->status.has_value(), followed);
        QCOMPARE(to.requests().size(), followed ? 1 : 0);
        if (followed)
            QCOMPARE(reply->body, QByteArray("done"));
        else
            QCOMPARE(reply->errorText, QStringLiteral("Refused redirect from https to http"));
    }

    void followsRedirects_data()
    {
        QTest::addColumn<int>("hops");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("otherOrigin");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QByteArray>("finalMethod");
        QTest::newRow("307 keeps POST") << 1 << 307 << false << true << QByteArray("POST");
        QTest::newRow("303 becomes GET") << 1 << 303 << false << true << QByteArray("GET");
        QTest::newRow("five hops") << 5 << 308 << false << true << QByteArray("POST");
        QTest::newRow("six hops refused") << 6 << 308 << false << false << QByteArray();
        QTest::newRow("other origin drops authorization") << 1 << 307 << true << true << QByteArray("POST");
    }
    void followsRedirects()
    {
        QFETCH(int, hops);
        QFETCH(int, code);
        QFETCH(bool, otherOrigin);
        QFETCH(bool, succeeds);
        QFETCH(QByteArray, finalMethod);
        MiniHttpServer server, other;
        QVERIFY(server.listen());
        QVERIFY(other.listen());
        auto handler = [&](const test::HttpRequestHead& request) {
            const int n = request.target.mid(request.target.lastIndexOf('/') + 1).toInt();
            if (n >= hops)
                return HttpResponseSpec{200, "done"};
            const QByteArray next = (otherOrigin ? other.url(QStringLiteral("/hop/%1").arg(n + 1)).toEncoded()
                                                 : QByteArray("/hop/") + QByteArray::number(n + 1));
            return HttpResponseSpec{code, {}, {{"Location", next}}};
        };
        server.setHandler(handler);
        other.setHandler(handler);
        QtHttpClient client;
        QObject context;
        const auto reply = await([&](auto done) { client.postJson(server.url("/hop/0"), "{}", "tok", &context, done); });
        QVERIFY(reply);
        QCOMPARE(reply->status.has_value(), succeeds);
        if (!succeeds)
            return;
        QCOMPARE(reply->body, QByteArray("done"));
        const auto& last = otherOrigin ? other.requests().last() : server.requests().last();
        QCOMPARE(last.method, finalMethod);
        QCOMPARE(last.headers.contains("authorization"), !otherOrigin);
    }

    void authorizationOrigins_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("carries");
        QTest::newRow("same origin") << "http://h:8787/a" << "http://h:8787/b" << true;
        QTest::newRow("https form same port") << "http://h:8787/a" << "https://h:8787/b" << true;
        QTest::newRow("https form default ports") << "http://h/a" << "https://h/b" << true;
        QTest::newRow("other port") << "http://h:8787/a" << "http://h:8788/b" << false;
        QTest::newRow("other host") << "https://h/a" << "https://evil/b" << false;
        QTest::newRow("downgrade") << "https://h/a" << "http://h/b" << false;
    }
    void authorizationOrigins()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, carries);
        QCOMPARE(QtHttpClient::mayCarryAuthorization(QUrl(from), QUrl(to)), carries);
    }

    void redirectsNeverLeaveHttps_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("follows");
        QTest::newRow("https to https") << "https://h/a" << "https://other/b" << true;
        QTest::newRow("http to https") << "http://h/a" << "https://h/b" << true;
        QTest::newRow("http to http") << "http://h/a" << "http://other/b" << true;
        QTest::newRow("https to http") << "https://h/a" << "http://h/b" << false;
        QTest::newRow("https to ws") << "https://h/a" << "ws://h/b" << false;
    }
    void redirectsNeverLeaveHttps()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, follows);
        QCOMPARE(QtHttpClient::mayFollowRedirect(QUrl(from), QUrl(to)), follows);
    }

    void noCallbackAfterContextDies()
    {
        MiniHttpServer server;
        QVERIFY(server.listen());
        QtHttpClient client;
        bool called = false;
        auto* context = new QObject;
        client.get(server.url("/x"), {}, context, [&](const HttpReply&) { called = true; });
        delete context;
        QTRY_COMPARE(server.requests().size(), 1);
        QTest::qWait(50);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
