// Decoding of incoming frames and the join message.
#include "net/Messages.h"

#include <QJsonDocument>
#include <QtTest>

using namespace pondra;
using namespace pondra::net;

namespace {
const char* kindOf(const IncomingMessage& m)
{
    static const char* names[] = {"undecodable", "malformed", "unknown", "users", "ring", "ring-response"};
    return names[m.index()];
}
const QByteArray usersHead = "{\"type\":\"users\",\"data\":[";
const QByteArray user = "{\"id\":\"1\",\"name\":\"Bo\",\"team\":\"T\",\"isPondra\":true,\"isIdle\":false,"
                        "\"idleState\":\"active\",\"idleSeconds\":3,\"lastUpdate\":\"x\"}";
} // namespace

class TestMessages final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void kinds_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("kind");
        QTest::newRow("not json") << QByteArray("hello") << "undecodable";
        QTest::newRow("array") << QByteArray("[]") << "undecodable";
        QTest::newRow("no type") << QByteArray(R"({"data":[]})") << "undecodable";
        QTest::newRow("number type") << QByteArray(R"({"type":1})") << "undecodable";
        QTest::newRow("null type") << QByteArray(R"({"type":null})") << "undecodable";
        QTest::newRow("capital type") << QByteArray(R"({"type":"Users","data":[]})") << "unknown";
        QTest::newRow("other type") << QByteArray(R"({"type":"hello"})") << "unknown";
        QTest::newRow("users empty") << QByteArray(R"({"type":"users","data":[]})") << "users";
        QTest::newRow("users one") << QByteArray(usersHead + user + "]}") << "users";
        QTest::newRow("users no data") << QByteArray(R"({"type":"users"})") << "malformed";
        QTest::newRow("users data null") << QByteArray(R"({"type":"users","data":null})") << "malformed";
        QTest::newRow("users bad record") << QByteArray(usersHead + user + R"(,{"id":"2"}]})") << "malformed";
        QTest::newRow("users non-object element") << QByteArray(usersHead + user + R"(,7]})") << "malformed";
        QTest::newRow("ring minimal") << QByteArray(R"({"type":"ring","from":"a","to":"b"})") << "ring";
        QTest::newRow("ring url null") << QByteArray(R"({"type":"ring","from":"a","to":"b","url":null})") << "ring";
        QTest::newRow("ring from null") << QByteArray(R"({"type":"ring","from":null,"to":"b"})") << "malformed";
        QTest::newRow("ring photo object") << QByteArray(R"({"type":"ring","from":"a","to":"b","photo":{}})") << "malformed";
        QTest::newRow("response") << QByteArray(R"({"type":"ring-response","from":"a","to":"b","accepted":true})") << "ring-response";
        QTest::newRow("response no accepted") << QByteArray(R"({"type":"ring-response","from":"a","to":"b"})") << "malformed";
        QTest::newRow("response accepted 1") << QByteArray(R"({"type":"ring-response","from":"a","to":"b","accepted":1})") << "malformed";
    }

    void kinds()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, kind);
        QCOMPARE(QString::fromLatin1(kindOf(decodeIncomingMessage(frame))), kind);
    }

    void fieldsArriveUnaltered()
    {
        const auto ring = decodeIncomingMessage(R"({"type":"ring","from":"Bo","to":"Ana","url":"https:\/\/x","photo":"QUJD","id":9})");
        const auto& r = std::get<RingMessage>(ring);
        QCOMPARE(r.from, QStringLiteral("Bo"));
        QCOMPARE(r.url, std::optional<QString>(QStringLiteral("https://x")));
        QCOMPARE(r.photo, std::optional<QString>(QStringLiteral("QUJD")));
        const auto users = decodeIncomingMessage(usersHead + user + "," + QByteArray(user).replace("Bo", "Cy") + "]}");
        const auto& u = std::get<UsersMessage>(users);
        QCOMPARE(u.data.size(), 2);
        QCOMPARE(u.data[1].name, QStringLiteral("Cy"));
    }

    void dataFramesMustBeUtf8()
    {
        QCOMPARE(textOfDataFrame(QByteArray("caf\xc3\xa9")), std::optional<QString>(QStringLiteral("caf\u00e9")));
        QVERIFY(!textOfDataFrame(QByteArray("caf\xc3")));
        QVERIFY(!textOfDataFrame(QByteArray("\xed\xa0\x80"))); // an encoded surrogate
    }

    void joinIsCompactWithTwoMembers()
    {
        const QString text = joinMessageText(QStringLiteral("Ünïcode \"team\""));
        QVERIFY(!text.contains(QLatin1Char('\n')));
        const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
        QCOMPARE(object.size(), 2);
        QCOMPARE(object.value(QStringLiteral("team")).toString(), QStringLiteral("Ünïcode \"team\""));
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
