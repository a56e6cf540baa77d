#include "platform/core/Log.h"
#include "platform/http/ApiToken.h"
#include "records/ServerAddresses.h"

#include "LogRecorder.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

using namespace pondra;

class TestAddresses : public QObject
{
    Q_OBJECT
    QString m_base;
    QString m_token;
    ServerAddresses m_addresses{[this] { return m_base; }, [this] { return m_token; }};

    void expectWsLines(const QString& token, const char* last)
    {
        QTest::ignoreMessage(
            QtInfoMsg,
            qPrintable(
                QStringLiteral("[WS URL Debug] apiToken.isEmpty=%1, apiToken.count=%2, isPlaceholder=%3")
                    .arg(token.isEmpty() ? "true" : "false")
                    .arg(token.size())
                    .arg(token == QLatin1String(apiTokenPlaceholder) ? "true" : "false")));
        QTest::ignoreMessage(
            QtInfoMsg,
            qPrintable(QStringLiteral("[WS URL Debug] apiToken prefix: %1...").arg(secretPrefix(token))));
        QTest::ignoreMessage(isUsableApiToken(token) ? QtInfoMsg : QtCriticalMsg,
                             QRegularExpression(QRegularExpression::escape(QString::fromUtf8(last))));
    }

    // Every line of each test; none may hold a token of the tests (each longer than 8 characters).
    std::optional<test::LogRecorder> m_log;

private Q_SLOTS:
    void init() { m_log.emplace(); }
    void cleanup()
    {
        m_log->expectNoLineContains({QStringLiteral("SECRET-TOKEN-0123456789abcdefghij"),
                                     QStringLiteral("abcDEF123-._~xyz"), QStringLiteral("a+b&c=d#e/f"),
                                     QStringLiteral("a%2Bb%26c%3Dd%23e%2Ff")});
        m_log.reset();
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("normalized");
        QTest::addColumn<QString>("update"); // empty: refused by the strict parser
        QTest::addColumn<QString>("ws");
        QTest::newRow("bare host") << "team.example.com"
                                   << "https://team.example.com"
                                   << "https://team.example.com/pondra/update"
                                   << "wss://team.example.com/pondra/ws";
        QTest::newRow("trailing slashes") << "team.example.com///"
                                          << "https://team.example.com"
                                          << "https://team.example.com/pondra/update"
                                          << "wss://team.example.com/pondra/ws";
        QTest::newRow("only slashes: no host") << "///"
                                               << "https://"
                                               << ""
                                               << "";
        QTest::newRow("localhost") << "localhost"
                                   << "http://localhost"
                                   << "http://localhost/pondra/update"
                                   << "ws://localhost/pondra/ws";
        QTest::newRow("localhost with port") << "localhost:8787/"
                                             << "http://localhost:8787"
                                             << "http://localhost:8787/pondra/update"
                                             << "ws://localhost:8787/pondra/ws";
        QTest::newRow("localhost prefix only") << "localhostel.com"
                                               << "http://localhostel.com"
                                               << "http://localhostel.com/pondra/update"
                                               << "ws://localhostel.com/pondra/ws";
        QTest::newRow("http kept") << "http://10.0.0.2:80"
                                   << "http://10.0.0.2:80"
                                   << "http://10.0.0.2:80/pondra/update"
                                   << "ws://10.0.0.2:80/pondra/ws";
        QTest::newRow("https kept") << "https://h.example/"
                                    << "https://h.example"
                                    << "https://h.example/pondra/update"
                                    << "wss://h.example/pondra/ws";
        // The parser reads "HTTP:" as the host "http" with an empty port.
        QTest::newRow("capital scheme") << "HTTP://h.example"
                                        << "https://HTTP://h.example"
                                        << "https://http//h.example/pondra/update"
                                        << "wss://http//h.example/pondra/ws";
        QTest::newRow("other scheme") << "ftp://h.example"
                                      << "https://ftp://h.example"
                                      << "https://ftp//h.example/pondra/update"
                                      << "wss://ftp//h.example/pondra/ws";
        // Every "http://" becomes "ws://", not only the first.
        QTest::newRow("scheme further on") << "https://h.example/x/http://y"
                                           << "https://h.example/x/http://y"
                                           << "https://h.example/x/http://y/pondra/update"
                                           << "wss://h.example/x/ws://y/pondra/ws";
        QTest::newRow("spaces kept: refused") << " h.example"
                                              << "https:// h.example"
                                              << ""
                                              << "";
    }
    void addresses()
    {
        QFETCH(QString, base);
        QFETCH(QString, normalized);
        QFETCH(QString, update);
        QFETCH(QString, ws);
        m_base = base;
        m_token.clear();
        QCOMPARE(m_addresses.normalizedBaseURL(), normalized);
        if (update.isEmpty()) {
            // A text that the strict parser refuses fails each attempt; the
            // refusal is logged once for the base.
            QVERIFY(!m_addresses.serverURL());
            QVERIFY(!m_addresses.ringURL());
            QVERIFY(!m_addresses.teamsURL());
            QCOMPARE(m_log->errors(), QStringList{QStringLiteral("Refusing invalid server address: ") +
                                                  normalized + QStringLiteral("/pondra/update")});
            return;
        }
        const auto endpoint = [&](const char* path) {
            return QString(update).replace(QStringLiteral("/pondra/update"), QLatin1String(path));
        };
        QCOMPARE(m_addresses.serverURL()->toString(), update);
        QCOMPARE(m_addresses.ringURL()->toString(), endpoint("/pondra/ring"));
        QCOMPARE(m_addresses.ringResponseURL()->toString(), endpoint("/pondra/ring-response"));
        QCOMPARE(m_addresses.teamsURL()->toString(), endpoint("/pondra/teams"));
        expectWsLines(m_token, "[WS URL Debug] Using UNAUTHENTICATED URL (no token)");
        QCOMPARE(m_addresses.wsURL()->toString(), ws);
    }

    void tokenRule_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("query"); // empty: no query, no header
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("placeholder") << "{{PONDRA_API_TOKEN}}"
                                     << "";
        QTest::newRow("placeholder with space") << "{{PONDRA_API_TOKEN}} "
                                                << "%7B%7BPONDRA_API_TOKEN%7D%7D%20";
        QTest::newRow("plain") << "abcDEF123-._~xyz"
                               << "abcDEF123-._~xyz";
        QTest::newRow("short") << "abc"
                               << "abc";
        QTest::newRow("spaces are usable") << "   "
                                           << "%20%20%20";
        QTest::newRow("needs encoding") << "a+b&c=d#e/f"
                                        << "a%2Bb%26c%3Dd%23e%2Ff";
        QTest::newRow("non-ascii") << "tøken"
                                   << "t%C3%B8ken";
    }
    void tokenRule()
    {
        QFETCH(QString, token);
        QFETCH(QString, query);
        m_base = QStringLiteral("localhost:8787");
        m_token = token;
        QCOMPARE(isUsableApiToken(token), !query.isEmpty());
        if (query.isEmpty()) {
            expectWsLines(token, "[WS URL Debug] Using UNAUTHENTICATED URL (no token)");
            QCOMPARE(m_addresses.wsURL()->toString(QUrl::FullyEncoded),
                     QStringLiteral("ws://localhost:8787/pondra/ws"));
            return;
        }
        const QString expected = QStringLiteral("ws://localhost:8787/pondra/ws?token=") + query;
        expectWsLines(token, qPrintable(QStringLiteral("[WS URL Debug] Using authenticated URL: %1...")
                                            .arg(maskTokenInUrl(expected).left(60))));
        const auto url = m_addresses.wsURL();
        QVERIFY(url);
        QCOMPARE(url->toString(QUrl::FullyEncoded), expected);
        // The server reads back exactly the token.
        QCOMPARE(QUrlQuery(*url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded), token);
        QCOMPARE(bearerHeaderValue(token), "Bearer " + token.toUtf8());
    }

    void logsNoMoreThanThePrefix()
    {
        m_base = QStringLiteral("localhost");
        m_token = QStringLiteral("SECRET-TOKEN-0123456789abcdefghij");
        expectWsLines(m_token,
                      "[WS URL Debug] Using authenticated URL: ws://localhost/pondra/ws?token=*****");
        QVERIFY(m_addresses.wsURL());
    }
};

QTEST_GUILESS_MAIN(TestAddresses)
#include "tst_addresses.moc"
