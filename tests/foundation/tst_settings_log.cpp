#include "platform/core/Log.h"
#include "platform/core/SettingsStore.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QTimeZone>
#include <QTest>

#include <sys/stat.h>

using namespace pondra;

class TestSettingsLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void storeLivesUnderXdgConfigWithOwnerOnlyMode()
    {
        test::ScopedXdgHome home;
        SettingsStore store;
        QVERIFY(store.filePath().startsWith(home.path() + QStringLiteral("/config/Pondra/")));
        store.setText(QStringLiteral("apiToken"), QStringLiteral("secret"));
        struct stat info{};
        QCOMPARE(::stat(QFile::encodeName(store.filePath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        SettingsStore reopened;
        QCOMPARE(reopened.text(QStringLiteral("apiToken")), std::optional<QString>(QStringLiteral("secret")));
    }

    void typedReadsAreStrict_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("flag"); // -1 absent, 0 false, 1 true
        QTest::addColumn<qint64>("integer");
        QTest::addColumn<bool>("hasInteger");
        QTest::newRow("true") << "true" << 1 << qint64(0) << false;
        QTest::newRow("false") << "false" << 0 << qint64(0) << false;
        QTest::newRow("zero") << "0" << 0 << qint64(0) << true;
        QTest::newRow("seven") << "7" << 1 << qint64(7) << true;
        QTest::newRow("negative") << "-3" << 1 << qint64(-3) << true;
        QTest::newRow("capital True") << "True" << -1 << qint64(0) << false;
        QTest::newRow("yes") << "yes" << -1 << qint64(0) << false;
        QTest::newRow("real") << "1.5" << -1 << qint64(0) << false;
        QTest::newRow("empty") << "" << -1 << qint64(0) << false;
    }
    void typedReadsAreStrict()
    {
        QFETCH(QString, raw);
        QFETCH(int, flag);
        QFETCH(qint64, integer);
        QFETCH(bool, hasInteger);
        test::ScopedXdgHome home;
        SettingsStore store;
        store.setText(QStringLiteral("k"), raw);
        const auto f = store.flag(QStringLiteral("k"));
        QCOMPARE(f.has_value() ? int(*f) : -1, flag);
        const auto n = store.integer(QStringLiteral("k"));
        QCOMPARE(n.has_value(), hasInteger);
        if (n)
            QCOMPARE(*n, integer);
        QCOMPARE(store.text(QStringLiteral("k")), std::optional<QString>(raw));
    }

    void typedWritesRoundTrip()
    {
        test::ScopedXdgHome home;
        SettingsStore store;
        const QDateTime when(QDate(2026, 3, 29), QTime(2, 59, 59, 250), QTimeZone("Europe/Helsinki"));
        store.setFlag(QStringLiteral("f"), true);
        store.setInteger(QStringLiteral("i"), -12);
        store.setDate(QStringLiteral("d"), when);
        store.setText(QStringLiteral("t"), QStringLiteral("a, b = c ; d"));
        SettingsStore again;
        QCOMPARE(again.flag(QStringLiteral("f")), std::optional<bool>(true));
        QCOMPARE(again.integer(QStringLiteral("i")), std::optional<qint64>(-12));
        QCOMPARE(again.date(QStringLiteral("d")), std::optional<QDateTime>(when.toUTC()));
        QCOMPARE(again.text(QStringLiteral("t")), std::optional<QString>(QStringLiteral("a, b = c ; d")));
        QVERIFY(!again.date(QStringLiteral("t")));
        again.remove(QStringLiteral("i"));
        QVERIFY(!SettingsStore().contains(QStringLiteral("i")));
    }

    void rendersLogPlaceholders_data()
    {
        QTest::addColumn<QString>("rendered");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bool") << renderLog("a=%{bool}d b=%{bool}d", {true, false}) << "a=true b=false";
        QTest::newRow("integers") << renderLog("%ld %d %lld", {qint64(-4), 7, 1}) << "-4 7 1";
        QTest::newRow("real six decimals") << renderLog("%f", {0.5}) << "0.500000";
        QTest::newRow("real precision") << renderLog("%.3f", {0.39949}) << "0.399";
        QTest::newRow("text forms") << renderLog("%s|%@|%{public}s|%{public}@", {"a", QStringLiteral("b"), "c", "d"}) << "a|b|c|d";
        QTest::newRow("percent") << renderLog("100%% %s", {"done"}) << "100% done";
        QTest::newRow("missing argument") << renderLog("x=%s y=%ld", {"1"}) << "x=1 y=";
        QTest::newRow("nan never converts") << renderLog("%ld %f", {std::nan(""), std::nan("")}) << "0 nan";
    }
    void rendersLogPlaceholders()
    {
        QFETCH(QString, rendered);
        QFETCH(QString, expected);
        QCOMPARE(rendered, expected);
    }

    void masksSecrets_data()
    {
        QTest::addColumn<QString>("secret");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("long") << "abcdefghijkl" << "abcdefgh";
        QTest::newRow("nine") << "abcdefghi" << "abcdefgh";
        QTest::newRow("eight shows nothing") << "abcdefgh" << "";
        QTest::newRow("short") << "abc" << "";
        QTest::newRow("empty") << "" << "";
    }
    void masksSecrets()
    {
        QFETCH(QString, secret);
        QFETCH(QString, prefix);
        QCOMPARE(secretPrefix(secret), prefix);
        QCOMPARE(maskTokenInUrl(QStringLiteral("wss://h/pondra/ws?token=") + secret),
                 QStringLiteral("wss://h/pondra/ws?token=") + QString(secret.size(), u'*'));
        QCOMPARE(maskTokenInUrl(QStringLiteral("wss://h/pondra/ws")), QStringLiteral("wss://h/pondra/ws"));
    }

    void logsThroughCategories()
    {
        QCOMPARE(QByteArray(lcApp().categoryName()), QByteArray("org.pondra.Pondra.App"));
        QCOMPARE(QByteArray(lcCamera().categoryName()), QByteArray("org.pondra.Pondra.CameraCapture"));
        QTest::ignoreMessage(QtInfoMsg, "hello 3 true");
        logInfo(lcApp, "hello %ld %{bool}d", 3, true);
        QTest::ignoreMessage(QtCriticalMsg, "failed: boom");
        logError(lcNetwork, "failed: %@", QStringLiteral("boom"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsLog)
#include "tst_settings_log.moc"
