#include "app/PresencePayload.h"

#include <QJsonDocument>
#include <QTest>

using namespace pondra;

namespace {
PresenceSnapshot presentSnapshot()
{
    PresenceSnapshot s;
    s.userId = QStringLiteral("6F1C2A3B-0000-4000-8000-000000000001");
    s.userName = QStringLiteral("Aino");
    s.userEmail = QStringLiteral("aino@example.org");
    s.teamName = QStringLiteral("Core");
    s.isPondraMode = true;
    s.outputDeviceType = QStringLiteral("Built-in");
    s.outputDeviceName = QStringLiteral("Speakers");
    s.now = QDateTime(QDate(2026, 12, 9), QTime(10, 17, 52, 345), Qt::UTC);
    return s;
}

QImage photo(Qt::GlobalColor color)
{
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(color);
    return image;
}
} // namespace

class TestPresencePayload : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void recordFollowsPresenceMode_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<double>("idleSeconds");
        QTest::addColumn<QString>("deviceType");
        QTest::addColumn<QString>("deviceName");
        QTest::addColumn<bool>("monitorsActive"); // muted, media playing, in a meeting
        QTest::addColumn<QString>("idleState");
        QTest::addColumn<bool>("headphones");
        QTest::addColumn<bool>("audioAndMeeting");
        QTest::addColumn<QString>("status");

        const QString bt = QStringLiteral("Bluetooth");
        const QString full = QStringLiteral("Busy \U0001F3B5 A - B");
        QTest::newRow("present 599.9 active") << true << 599.9 << "Built-in"
                                              << "Speakers" << true << "active" << false << true << full;
        QTest::newRow("present 600 semiIdle") << true << 600.0 << "USB"
                                              << "Dock" << false << "semiIdle" << false << false << full;
        QTest::newRow("present 1799.9 semiIdle") << true << 1799.9 << "USB"
                                                 << "Dock" << true << "semiIdle" << false << true << full;
        QTest::newRow("present 1800 idle") << true << 1800.0 << "USB"
                                           << "Dock" << true << "idle" << false << true << full;
        QTest::newRow("Bluetooth LE headphones") << true << 5.0 << "Bluetooth LE"
                                                 << "Buds" << true << "active" << true << true << full;
        QTest::newRow("Bluetooth headphones")
            << true << 5.0 << bt << "Headset" << true << "active" << true << true << full;
        QTest::newRow("Bluetooth hifi receiver")
            << true << 5.0 << bt << "Digital Hifi Audio" << true << "active" << false << true << full;
        QTest::newRow("Bluetooth LE hifi receiver")
            << true << 5.0 << "Bluetooth LE"
            << "Digital Hifi Audio" << true << "active" << false << true << full;
        QTest::newRow("USB is no headphone") << true << 5.0 << "USB"
                                             << "Headset" << true << "active" << false << true << full;
        // While away nothing of what the user does goes out, and the status has no track.
        QTest::newRow("away masks all")
            << false << 5.0 << bt << "Headset" << true << "idle" << false << false << "Busy";
    }
    void recordFollowsPresenceMode()
    {
        QFETCH(bool, present);
        QFETCH(double, idleSeconds);
        QFETCH(QString, deviceType);
        QFETCH(QString, deviceName);
        QFETCH(bool, monitorsActive);
        QFETCH(QString, idleState);
        QFETCH(bool, headphones);
        QFETCH(bool, audioAndMeeting);
        QFETCH(QString, status);

        PresenceSnapshot s = presentSnapshot();
        s.isPondraMode = present;
        s.idleSeconds = idleSeconds;
        s.isIdle = idleSeconds >= 60;
        s.outputDeviceType = deviceType;
        s.outputDeviceName = deviceName;
        s.isMuted = monitorsActive;
        s.isPlayingMedia = monitorsActive;
        s.isInMeeting = monitorsActive;
        s.meetingApp = monitorsActive ? QStringLiteral("Zoom") : QString();
        s.userStatus = QStringLiteral("Busy");
        s.includeNowPlaying = true;
        s.nowPlayingText = QStringLiteral("A - B");

        PresencePayloadBuilder builder;
        const UpdatePayload result = builder.build(s, false);
        QVERIFY(result.shouldSend && result.payload && result.state);
        const QJsonObject p = *result.payload;
        QCOMPARE(p.size(), 16);
        QCOMPARE(p.value("idleState").toString(), idleState);
        QCOMPARE(p.value("isUsingHeadphones").toBool(), headphones);
        QCOMPARE(p.value("isPlayingAudio").toBool(), audioAndMeeting);
        QCOMPARE(p.value("isMuted").toBool(), audioAndMeeting);
        QCOMPARE(p.value("isInMeeting").toBool(), audioAndMeeting);
        QCOMPARE(p.value("meetingApp").toString(), audioAndMeeting ? QStringLiteral("Zoom") : QString());
        QVERIFY(p.value("meetingApp").isString());
        QCOMPARE(p.value("status").toString(), status);
        // These are sent as the sources have them, whatever the presence mode.
        QCOMPARE(p.value("isPondra").toBool(), present);
        QCOMPARE(p.value("isIdle").toBool(), idleSeconds >= 60);
        QCOMPARE(p.value("idleSeconds").toDouble(), idleSeconds);
        QCOMPARE(p.value("id").toString(), s.userId);
        QCOMPARE(p.value("name").toString(), s.userName);
        QCOMPARE(p.value("email").toString(), s.userEmail);
        QCOMPARE(p.value("team").toString(), s.teamName);
        QCOMPARE(p.value("timestamp").toString(), QStringLiteral("2026-12-09T10:17:52Z"));

        const LastSentState& st = *result.state;
        QCOMPARE(st.idleState, idleState);
        QCOMPARE(st.isUsingHeadphones, headphones);
        QCOMPARE(st.isPlayingAudio, audioAndMeeting);
        QCOMPARE(st.status, status);
        QCOMPARE(st.isPondra, present);
    }

    void fullStatus_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("include");
        QTest::addColumn<QString>("track");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("setting off") << "Busy" << false << "A - B" << QByteArray("Busy");
        QTest::newRow("status and track")
            << "Busy" << true << "A - B" << QByteArray("Busy \xF0\x9F\x8E\xB5 A - B");
        QTest::newRow("track only") << "" << true << "Song" << QByteArray("\xF0\x9F\x8E\xB5 Song");
        QTest::newRow("nothing plays") << "Busy" << true << "" << QByteArray("Busy");
        QTest::newRow("nothing at all") << "" << true << "" << QByteArray("");
    }
    void fullStatus()
    {
        QFETCH(QString, status);
        QFETCH(bool, include);
        QFETCH(QString, track);
        QFETCH(QByteArray, expected);
        QCOMPARE(composeFullStatus(status, include, track).toUtf8(), expected);
    }

    void photoIsJpegBase64OrNull()
    {
        PresencePayloadBuilder builder;
        PresenceSnapshot s = presentSnapshot();

        UpdatePayload none = builder.build(s, true);
        QVERIFY(none.payload->contains("photo"));
        QVERIFY(none.payload->value("photo").isNull());
        QVERIFY(!none.state->hasPhoto);
        QVERIFY(QJsonDocument(*none.payload).toJson(QJsonDocument::Compact).contains("\"photo\":null"));

        s.capturedImage = photo(Qt::red);
        UpdatePayload with = builder.build(s, true);
        const QByteArray jpeg = QByteArray::fromBase64(with.payload->value("photo").toString().toLatin1(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
        QVERIFY(jpeg.startsWith("\xFF\xD8"));
        QCOMPARE(QImage::fromData(jpeg, "JPEG").size(), QSize(32, 24));
        QVERIFY(!with.payload->value("photo").toString().contains(QLatin1Char('\n')));
        QVERIFY(with.state->hasPhoto);

        // An image that cannot be encoded goes out as null, while the record says a photo exists.
        s.capturedImage = QImage();
        UpdatePayload broken = builder.build(s, true);
        QVERIFY(broken.payload->value("photo").isNull());
        QVERIFY(broken.state->hasPhoto);
    }

    void unchangedRecordIsSentOnce()
    {
        PresencePayloadBuilder builder;
        PresenceSnapshot s = presentSnapshot();
        s.capturedImage = photo(Qt::blue);
        QVERIFY(builder.build(s, false).shouldSend);
        const UpdatePayload second = builder.build(s, false);
        QVERIFY(!second.shouldSend);
        QVERIFY(!second.payload && !second.state);

        // Changes the record does not compare stay unsent until a forced build.
        s.idleSeconds = 300;
        s.userEmail = QStringLiteral("other@example.org");
        s.teamName = QStringLiteral("Other");
        s.capturedImage = photo(Qt::green);
        s.now = s.now.addSecs(30);
        QVERIFY(!builder.build(s, false).shouldSend);
        const UpdatePayload forced = builder.build(s, true);
        QVERIFY(forced.shouldSend);
        QCOMPARE(forced.payload->value("team").toString(), QStringLiteral("Other"));

        // A compared change goes out, and only once.
        s.idleSeconds = 600;
        QVERIFY(builder.build(s, false).shouldSend);
        QVERIFY(!builder.build(s, false).shouldSend);
        QCOMPARE(builder.lastSentState()->idleState, QStringLiteral("semiIdle"));
    }
};

QTEST_GUILESS_MAIN(TestPresencePayload)
#include "tst_presence_payload.moc"
