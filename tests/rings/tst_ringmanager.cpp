#include "RingTestSupport.h"

#include "LogRecorder.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTest>

using namespace pondra;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(pondra::HttpReply)

namespace {

QString pngText(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

/// The manager on virtual time with a recording HTTP client, a fake opener and
/// a fake sound player.
struct Harness
{
    VirtualScheduler scheduler;
    FakeHttpClient http;
    FakeSoundPlayer sound;
    FakeUrlOpener opener;
    test::RingInputs inputs;
    std::unique_ptr<RingManager> manager = inputs.makeManager({&http, &sound, &opener, &scheduler});

    QString ring(const QString& from, const std::optional<QString>& photo = std::nullopt)
    {
        QTest::ignoreMessage(QtInfoMsg,
                             qPrintable(QStringLiteral("showRingNotification called from: ") + from));
        manager->showRingNotification(from, QStringLiteral("https://meet.example.com/x"), photo);
        return manager->incomingRing.get() ? manager->incomingRing.get()->id : QString();
    }

    QList<QJsonObject> answers() const
    {
        QList<QJsonObject> result;
        for (const auto& request : http.requests())
            if (request.url == *inputs.ringResponseURL)
                result << request.json();
        return result;
    }

    static QJsonObject answer(const QString& from, const QString& to, bool accepted)
    {
        return {{"from", from}, {"to", to}, {"accepted", accepted}};
    }

    std::optional<QString> waiting() const { return manager->waitingForResponse.get(); }
};

class TestRingManager : public QObject
{
    Q_OBJECT

    // Every line of each test; none may hold the token.
    std::optional<test::LogRecorder> m_log;

private Q_SLOTS:
    void init() { m_log.emplace(); }
    void cleanup()
    {
        m_log->expectNoLineContains({QStringLiteral("token-at-answer-time")});
        m_log.reset();
    }

    void startsEmptyAndDoesNothing()
    {
        Harness h;
        QVERIFY(h.manager->pendingRings().isEmpty());
        QVERIFY(!h.manager->incomingRing.get());
        QVERIFY(!h.waiting());
        QCOMPARE(h.scheduler.pendingCount(), 0);
        QVERIFY(h.http.requests().isEmpty());
    }

    void incomingRingIsShownAndPending()
    {
        Harness h;
        int changes = 0;
        connect(h.manager.get(), &RingManager::changed, h.manager.get(), [&] { ++changes; });
        const QString id = h.ring(QStringLiteral("Bob"), pngText(QSize(24, 16)));
        QVERIFY(QRegularExpression(
                    QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(id)
                    .hasMatch());
        const auto& shown = h.manager->incomingRing.get();
        QCOMPARE(shown->from, QStringLiteral("Bob"));
        QVERIFY(shown->photo);
        QCOMPARE(shown->photo->size(), QSize(24, 16));
        QCOMPARE(h.manager->pendingRings().value(id),
                 (PendingRing{QStringLiteral("Bob"), id, h.scheduler.now().addSecs(30)}));
        QCOMPARE(changes, 1);
        QVERIFY(h.http.requests().isEmpty());
    }

    void callerPhotoThatDoesNotDecodeShowsNone_data()
    {
        QTest::addColumn<std::optional<QString>>("photo");
        QTest::newRow("absent") << std::optional<QString>();
        QTest::newRow("empty") << std::optional<QString>(QString());
        QTest::newRow("not base64") << std::optional<QString>(QStringLiteral("@@@@"));
        QTest::newRow("line break inside") << std::optional<QString>(pngText(QSize(4, 4)).insert(8, u'\n'));
        QTest::newRow("not an image") << std::optional<QString>(QStringLiteral("aGVsbG8gd29ybGQ="));
    }
    void callerPhotoThatDoesNotDecodeShowsNone()
    {
        QFETCH(std::optional<QString>, photo);
        Harness h;
        h.ring(QStringLiteral("Bob"), photo);
        QVERIFY(h.manager->incomingRing.get());
        QVERIFY(!h.manager->incomingRing.get()->photo);
    }

    void unansweredRingIsDeclinedOnceAfter30s()
    {
        Harness h;
        const QString id = h.ring(QStringLiteral("Bob"));
        h.scheduler.advance(29'999ms);
        QVERIFY(h.manager->incomingRing.get());
        QVERIFY(h.http.requests().isEmpty());
        h.scheduler.advance(1ms);
        QVERIFY(!h.manager->incomingRing.get());
        QCOMPARE(h.answers(), QList<QJsonObject>{Harness::answer("Ann", "Bob", false)});
        QVERIFY(h.manager->pendingRings().isEmpty());
        h.scheduler.advance(120s);
        QCOMPARE(h.http.requests().size(), 1);
    }

    void acceptingSendsOneAnswerAndNoDecline()
    {
        Harness h;
        h.inputs.apiToken = QStringLiteral("token-at-answer-time");
        h.ring(QStringLiteral("Bob"));
        h.scheduler.advance(10s);
        h.manager->acceptRing();
        QVERIFY(!h.manager->incomingRing.get());
        QCOMPARE(h.answers(), QList<QJsonObject>{Harness::answer("Ann", "Bob", true)});
        QCOMPARE(h.http.requests().first().apiToken, QStringLiteral("token-at-answer-time"));
        h.scheduler.advance(120s);
        QCOMPARE(h.http.requests().size(), 1);
        h.manager->acceptRing(); // nothing shown any more
        QCOMPARE(h.http.requests().size(), 1);
    }

    void newerRingReplacesTheShownOneWhichIsNeverAnswered()
    {
        QFETCH(bool, accept);
        Harness h;
        const QString first = h.ring(QStringLiteral("Bob"));
        h.scheduler.advance(10s);
        const QString second = h.ring(QStringLiteral("Cleo"));
        QCOMPARE(h.manager->incomingRing.get()->id, second);
        h.scheduler.advance(20s); // the first ring's 30 s are over
        QCOMPARE(h.manager->incomingRing.get()->id, second);
        QVERIFY(h.http.requests().isEmpty());
        if (accept)
            h.manager->acceptRing();
        else
            h.scheduler.advance(10s);
        QCOMPARE(h.answers(), QList<QJsonObject>{Harness::answer("Ann", "Cleo", accept)});
        h.scheduler.advance(120s);
        QCOMPARE(h.http.requests().size(), 1);
        QCOMPARE(h.manager->pendingRings().keys(), QList<QString>{first});
    }
    void newerRingReplacesTheShownOneWhichIsNeverAnswered_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("newer accepted") << true;
        QTest::newRow("newer expires") << false;
    }

    void notificationActionAnswersButLeavesTheCard_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::newRow("sure") << true;
        QTest::newRow("later") << false;
    }
    void notificationActionAnswersButLeavesTheCard()
    {
        QFETCH(bool, accepted);
        Harness h;
        const QString id = h.ring(QStringLiteral("Bob"));
        h.manager->handleNotificationAction(id, accepted);
        QCOMPARE(h.answers(), QList<QJsonObject>{Harness::answer("Ann", "Bob", accepted)});
        QCOMPARE(h.manager->incomingRing.get()->id, id);
        h.manager->handleNotificationAction(id, accepted);
        h.scheduler.advance(30s);
        QVERIFY(!h.manager->incomingRing.get());
        QCOMPARE(h.http.requests().size(), 1);
    }

    void answersOnlyWhatMatches()
    {
        Harness h;
        h.manager->acceptRing();
        h.manager->dismissRing(QStringLiteral("nothing-shown"), true);
        const QString old = h.ring(QStringLiteral("Bob"));
        const QString shown = h.ring(QStringLiteral("Cleo"));
        h.manager->handleNotificationAction(QStringLiteral("unknown"), true);
        h.manager->dismissRing(old, true); // not the one shown
        QVERIFY(h.http.requests().isEmpty());
        QCOMPARE(h.manager->pendingRings().size(), 2);
        QCOMPARE(h.manager->incomingRing.get()->id, shown);

        // A replaced ring can still be answered through its notification.
        h.manager->handleNotificationAction(old, false);
        QCOMPARE(h.answers(), QList<QJsonObject>{Harness::answer("Ann", "Bob", false)});
        QCOMPARE(h.manager->incomingRing.get()->id, shown);

        h.manager->dismissRing(shown, true);
        QVERIFY(!h.manager->incomingRing.get());
        QCOMPARE(h.answers().last(), Harness::answer("Ann", "Cleo", true));
        h.scheduler.advance(60s);
        QCOMPARE(h.http.requests().size(), 2);
    }

    void declineShowsMaybeLaterFor3s()
    {
        Harness h;
        h.manager->sendRing(QStringLiteral("Bob"));
        QCOMPARE(h.waiting(), std::optional<QString>(QStringLiteral("Checking with Bob...")));
        h.manager->handleRingResponse(QStringLiteral("someone else"), false,
                                      QStringLiteral("https://m.example.com/x"));
        QCOMPARE(h.waiting(), std::optional<QString>(QStringLiteral("Maybe later!")));
        h.scheduler.advance(2'999ms);
        QCOMPARE(h.waiting(), std::optional<QString>(QStringLiteral("Maybe later!")));
        h.scheduler.advance(1ms);
        QVERIFY(!h.waiting());
        QVERIFY(h.opener.opened.isEmpty());
    }

    void newerTextSurvivesTheClearingOfTheOld()
    {
        Harness h;
        h.manager->sendRing(QStringLiteral("Bob"));
        h.manager->handleRingResponse(QStringLiteral("Bob"), false, std::nullopt);
        h.scheduler.advance(1s);
        h.manager->sendRing(QStringLiteral("Cleo"));
        h.scheduler.advance(10s);
        QCOMPARE(h.waiting(), std::optional<QString>(QStringLiteral("Checking with Cleo...")));

        // The same for a refusal's text.
        QTest::ignoreMessage(QtCriticalMsg, "Ring failed with status: 403");
        h.http.answer(1, {403, R"({"error":"Cleo is busy"})", {}});
        QCOMPARE(h.waiting(), std::optional<QString>(QStringLiteral("Cleo is busy")));
        h.scheduler.advance(2s);
        h.manager->sendRing(QStringLiteral("Dan"));
        h.scheduler.advance(10s);
        QCOMPARE(h.waiting(), std::optional<QString>(QStringLiteral("Checking with Dan...")));
    }

    void ringReplyDecidesTheWaitingText_data()
    {
        QTest::addColumn<HttpReply>("reply");
        QTest::addColumn<QString>("log");
        QTest::addColumn<std::optional<QString>>("shown");
        QTest::addColumn<std::optional<QString>>("after3s");
        const std::optional<QString> checking = QStringLiteral("Checking with Bob...");
        const std::optional<QString> none;
        QTest::newRow("200") << HttpReply{200, R"({"error":"ignored"})", {}} << QString() << checking
                             << checking;
        QTest::newRow("refused with text")
            << HttpReply{403, R"({"error":"Bob is not on your team"})", {}} << "Ring failed with status: 403"
            << std::optional<QString>(QStringLiteral("Bob is not on your team")) << none;
        QTest::newRow("refused, empty text")
            << HttpReply{400, R"({"error":""})", {}} << "Ring failed with status: 400"
            << std::optional<QString>(QString()) << none;
        QTest::newRow("refused, body not JSON") << HttpReply{502, "<html>Bad gateway</html>", {}}
                                                << "Ring failed with status: 502" << checking << checking;
        QTest::newRow("refused, error not a string")
            << HttpReply{500, R"({"error":42})", {}} << "Ring failed with status: 500" << checking
            << checking;
        QTest::newRow("refused, array") << HttpReply{500, R"([{"error":"x"}])", {}}
                                        << "Ring failed with status: 500" << checking << checking;
        QTest::newRow("transport failure")
            << HttpReply{std::nullopt, {}, QStringLiteral("Connection refused")}
            << "Failed to send ring: Connection refused" << checking << checking;
    }
    void ringReplyDecidesTheWaitingText()
    {
        QFETCH(HttpReply, reply);
        QFETCH(QString, log);
        QFETCH(std::optional<QString>, shown);
        QFETCH(std::optional<QString>, after3s);
        Harness h;
        h.manager->sendRing(QStringLiteral("Bob"));
        QCOMPARE(h.http.requests().size(), 1);
        QCOMPARE(h.http.requests().first().url, *h.inputs.ringURL);
        if (!log.isEmpty())
            QTest::ignoreMessage(QtCriticalMsg, qPrintable(log));
        h.http.answer(0, reply);
        QCOMPARE(h.waiting(), shown);
        h.scheduler.advance(3s);
        QCOMPARE(h.waiting(), after3s);
    }

    void acceptanceClearsTheWaitingTextAndOpensTheLink()
    {
        Harness h;
        h.inputs.userEmail = QStringLiteral("ann@example.com");
        h.manager->sendRing(QStringLiteral("Bob"));
        h.manager->handleRingResponse(QStringLiteral("Bob"), true, std::nullopt);
        QVERIFY(!h.waiting());
        QVERIFY(h.opener.opened.isEmpty());
        h.manager->sendRing(QStringLiteral("Bob"));
        h.manager->handleRingResponse(QStringLiteral("Bob"), true,
                                      QStringLiteral("https://meet.example.com/abc"));
        QVERIFY(!h.waiting());
        QCOMPARE(h.opener.opened,
                 QList<QUrl>{QUrl(QStringLiteral("https://meet.example.com/abc?authuser=ann@example.com"))});
    }

    void meetingLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("refusedScheme");
        const QString ann = QStringLiteral("ann@example.com");
        QTest::newRow("e-mail added")
            << "https://meet.example.com/abc-defg-hij" << ann
            << "https://meet.example.com/abc-defg-hij?authuser=ann@example.com" << QString();
        QTest::newRow("no e-mail, link as it is") << "https://meet.example.com/j?pwd=x%20y" << QString()
                                                  << "https://meet.example.com/j?pwd=x%20y" << QString();
        QTest::newRow("items kept in order, authuser last")
            << "http://meet.example.com:8080/j?b=2&a=1&b=3" << ann
            << "http://meet.example.com:8080/j?b=2&a=1&b=3&authuser=ann@example.com" << QString();
        QTest::newRow("existing authuser stays")
            << "https://meet.example.com/j?authuser=0" << ann
            << "https://meet.example.com/j?authuser=0&authuser=ann@example.com" << QString();
        QTest::newRow("empty query") << "https://meet.example.com/j?" << ann
                                     << "https://meet.example.com/j?authuser=ann@example.com" << QString();
        QTest::newRow("fragment kept")
            << "https://meet.example.com/j?a=1#join" << ann
            << "https://meet.example.com/j?a=1&authuser=ann@example.com#join" << QString();
        QTest::newRow("e-mail delimiters encoded")
            << "https://meet.example.com/j"
            << "a+b&c=d#e@example.com"
            << "https://meet.example.com/j?authuser=a%2Bb%26c%3Dd%23e@example.com" << QString();
        QTest::newRow("upper-case scheme")
            << "HTTPS://Meet.Example.com/j" << QString() << "https://meet.example.com/j" << QString();
        QTest::newRow("file") << "file:///etc/passwd" << ann << QString() << "file";
        QTest::newRow("javascript") << "javascript:alert(1)" << ann << QString() << "javascript";
        QTest::newRow("custom handler") << "zoommtg://zoom.us/join?confno=1" << ann << QString() << "zoommtg";
        QTest::newRow("https without host") << "https:/j/123" << ann << QString() << "https";
        QTest::newRow("relative") << "meet.example.com/j" << ann << QString() << "";
        QTest::newRow("does not parse") << "https://meet example.com/j" << ann << QString() << QString();
        QTest::newRow("empty") << "" << ann << QString() << QString();
    }
    void meetingLinks()
    {
        QFETCH(QString, link);
        QFETCH(QString, email);
        QFETCH(QString, opened);
        QFETCH(QString, refusedScheme);
        Harness h;
        h.inputs.userEmail = email;
        if (!refusedScheme.isNull())
            QTest::ignoreMessage(
                QtCriticalMsg,
                qPrintable(QStringLiteral("Refusing to open meeting link with scheme ") + refusedScheme));
        h.manager->handleRingResponse(QStringLiteral("Bob"), true, link);
        if (opened.isEmpty()) {
            QVERIFY(h.opener.opened.isEmpty());
        } else {
            QCOMPARE(h.opener.opened.size(), 1);
            QCOMPARE(h.opener.opened.first().toString(QUrl::FullyEncoded), opened);
        }
    }

    void ringBodyFollowsTheInputsAtSendTime()
    {
        Harness h;
        h.manager->sendRing(QStringLiteral("Bob"));
        h.inputs.userEmail = QStringLiteral("ann@example.com");
        h.inputs.userName = QStringLiteral("Ann B.");
        QImage photo(40, 30, QImage::Format_RGB32);
        photo.fill(Qt::red);
        h.inputs.photo = photo;
        h.manager->sendRing(QStringLiteral("Cleo"));
        h.inputs.photo = QImage(); // a null image is no photo
        h.manager->sendRing(QStringLiteral("Dan"));

        QCOMPARE(h.http.requests().size(), 3);
        QCOMPARE(h.http.requests()[0].json(),
                 (QJsonObject{{"from", "Ann"}, {"fromId", h.inputs.userId}, {"to", "Bob"}}));
        const QJsonObject second = h.http.requests()[1].json();
        QCOMPARE(second.keys(), (QStringList{"email", "from", "fromId", "photo", "to"}));
        QCOMPARE(second.value("email").toString(), QStringLiteral("ann@example.com"));
        QCOMPARE(second.value("from").toString(), QStringLiteral("Ann B."));
        const QByteArray jpeg = QByteArray::fromBase64(second.value("photo").toString().toLatin1(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
        QVERIFY(jpeg.startsWith("\xFF\xD8"));
        QCOMPARE(QImage::fromData(jpeg, "JPEG").size(), QSize(40, 30));
        QCOMPARE(h.http.requests()[2].json().keys(), (QStringList{"email", "from", "fromId", "to"}));
    }

    void unusableAddressFailsLikeTheTransport()
    {
        Harness h;
        h.inputs.ringURL.reset();
        h.inputs.ringResponseURL.reset();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to send ring: .+")));
        h.manager->sendRing(QStringLiteral("Bob"));
        QCOMPARE(h.waiting(), std::optional<QString>(QStringLiteral("Checking with Bob...")));
        const QString id = h.ring(QStringLiteral("Bob"));
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("^Failed to send ring response: .+")));
        h.manager->acceptRing();
        QVERIFY(h.http.requests().isEmpty());
        QVERIFY(h.manager->pendingRings().isEmpty());
    }

    void ringSoundIsPlayedOnce()
    {
        Harness h;
        h.manager->playRingSound();
        QCOMPARE(h.sound.played, QStringList{QStringLiteral("ring")});
        h.sound.available = false;
        h.manager->playRingSound();
        QCOMPARE(h.sound.played.size(), 2);
    }

    void lateRepliesAfterTheManagerIsGoneAreDropped()
    {
        Harness h;
        h.manager->sendRing(QStringLiteral("Bob"));
        h.manager.reset();
        h.http.answer(0, {403, R"({"error":"late"})", {}});
        h.scheduler.advance(10s);
    }
};

QTEST_GUILESS_MAIN(TestRingManager)
#include "tst_ringmanager.moc"
