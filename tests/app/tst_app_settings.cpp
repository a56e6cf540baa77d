#include "app/AppSettings.h"
#include "platform/core/Scheduler.h"
#include "platform/core/SettingsStore.h"
#include "platform/http/ApiToken.h"

#include "LogRecorder.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace pondra;

namespace {
const char* const tokenInitDefault = "[Token Init] defaultApiToken: pondraLo... (len=32)";
const char* const tokenFromStoreNone = "[Token Init] UserDefaults token: nil";
const char* const tokenFinalDefault = "[Token Init] Final apiToken: pondraLo... (len=32)";
} // namespace

// The settings half of the application state: load order, defaults, and what
// each assignment sets off.
class TestAppSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    VirtualScheduler m_clock{QDateTime(QDate(2026, 5, 4), QTime(9, 30), Qt::UTC)};
    QStringList m_events;
    std::optional<test::LogRecorder> m_log;

    SettingsEffects recordingEffects()
    {
        return {[this](bool force) {
                    m_events << QStringLiteral("sendUpdate(%1)").arg(force ? "true" : "false");
                },
                [this] { m_events << QStringLiteral("join"); },
                [this] { m_events << QStringLiteral("reconnect"); },
                [this] { m_events << QStringLiteral("fetchTeams"); },
                [this] { m_events << QStringLiteral("retake"); }};
    }

    std::unique_ptr<AppSettings> load(SettingsStore& store)
    {
        QTest::ignoreMessage(QtInfoMsg, tokenInitDefault);
        return std::make_unique<AppSettings>(store, m_clock, recordingEffects(),
                                             [this] { m_events << QStringLiteral("changed"); });
    }

    QStringList storedKeys() const { return QSettings(m_path, QSettings::IniFormat).allKeys(); }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("Pondra.conf"));
        QFile::remove(m_path);
        m_events.clear();
        m_log.emplace();
    }
    void cleanup()
    {
        // The "[Token Init]" lines show prefixes and lengths, never a whole token.
        m_log->expectNoLineContains({AppSettings::defaultApiToken(), QStringLiteral("abcdefghijklmnop")});
        m_log.reset();
    }

    void freshStartUsesDefaultsAndSavesOnlyANewUserId()
    {
        SettingsStore store(m_path);
        QTest::ignoreMessage(QtInfoMsg, tokenFromStoreNone);
        QTest::ignoreMessage(QtInfoMsg, tokenFinalDefault);
        auto settings = load(store);

        QCOMPARE(settings->userId().size(), 36);
        QCOMPARE(settings->userId(), settings->userId().toUpper());
        QCOMPARE(storedKeys(), QStringList{QStringLiteral("userId")});
        QCOMPARE(store.text(QStringLiteral("userId")), settings->userId());
        QCOMPARE(settings->userName().get(), QString());
        QCOMPARE(settings->userEmail().get(), QString());
        QCOMPARE(settings->teamName().get(), QStringLiteral("Brask"));
        QCOMPARE(settings->serverBaseURL().get(), QStringLiteral("localhost:8787"));
        QCOMPARE(settings->apiToken().get(), QStringLiteral("pondraLocalDevToken0123456789ABC"));
        QCOMPARE(settings->userStatus().get(), QString());
        QCOMPARE(settings->includeNowPlaying().get(), false);
        QCOMPARE(settings->autoRetakeMinutes().get(), 0);
        QVERIFY(!settings->hasUserName());
        QVERIFY(m_events.isEmpty());

        // A later start reads the same identifier.
        const QString id = settings->userId();
        settings.reset();
        QTest::ignoreMessage(QtInfoMsg, tokenFromStoreNone);
        QTest::ignoreMessage(QtInfoMsg, tokenFinalDefault);
        QCOMPARE(load(store)->userId(), id);
    }

    void loadingStoredValuesWritesNothing()
    {
        {
            SettingsStore seed(m_path);
            seed.setText(QStringLiteral("userId"), QStringLiteral(""));
            seed.setText(QStringLiteral("userName"), QStringLiteral("Aino"));
            seed.setText(QStringLiteral("userEmail"), QStringLiteral("aino@example.org"));
            seed.setText(QStringLiteral("teamName"), QStringLiteral("Core"));
            seed.setText(QStringLiteral("serverBaseURL"), QStringLiteral("https://team.example.org/"));
            seed.setText(QStringLiteral("apiToken"), QStringLiteral("abcdefghijklmnop"));
            seed.setText(QStringLiteral("userStatus"), QStringLiteral("Lunch"));
            seed.setFlag(QStringLiteral("includeNowPlaying"), true);
            seed.setInteger(QStringLiteral("autoRetakeMinutes"), -3);
        }
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        SettingsStore store(m_path);
        QTest::ignoreMessage(QtInfoMsg, "[Token Init] UserDefaults token: abcdefgh...");
        QTest::ignoreMessage(QtInfoMsg, "[Token Init] Final apiToken: abcdefgh... (len=16)");
        auto settings = load(store);
        // A stored empty identifier is used as it is.
        QCOMPARE(settings->userId(), QString());
        QCOMPARE(settings->userName().get(), QStringLiteral("Aino"));
        QCOMPARE(settings->userEmail().get(), QStringLiteral("aino@example.org"));
        QCOMPARE(settings->teamName().get(), QStringLiteral("Core"));
        QCOMPARE(settings->serverBaseURL().get(), QStringLiteral("https://team.example.org/"));
        QCOMPARE(settings->userStatus().get(), QStringLiteral("Lunch"));
        QCOMPARE(settings->includeNowPlaying().get(), true);
        QCOMPARE(settings->autoRetakeMinutes().get(), -3);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QVERIFY(m_events.isEmpty());
    }

    void storedTokenIsUsedAsItIs_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("storeLine");
        QTest::addColumn<QString>("finalLine");
        QTest::addColumn<bool>("usable");
        // Short secrets show no characters at all, only their length.
        QTest::newRow("empty") << ""
                               << "[Token Init] UserDefaults token: ..."
                               << "[Token Init] Final apiToken: ... (len=0)" << false;
        QTest::newRow("placeholder") << apiTokenPlaceholder << "[Token Init] UserDefaults token: {{PONDRA..."
                                     << "[Token Init] Final apiToken: {{PONDRA... (len=20)" << false;
        QTest::newRow("short") << "abc12345"
                               << "[Token Init] UserDefaults token: ..."
                               << "[Token Init] Final apiToken: ... (len=8)" << true;
    }
    void storedTokenIsUsedAsItIs()
    {
        QFETCH(QString, stored);
        QFETCH(QString, storeLine);
        QFETCH(QString, finalLine);
        QFETCH(bool, usable);
        SettingsStore store(m_path);
        store.setText(QStringLiteral("apiToken"), stored);
        QTest::ignoreMessage(QtInfoMsg, qPrintable(storeLine));
        QTest::ignoreMessage(QtInfoMsg, qPrintable(finalLine));
        auto settings = load(store);
        QCOMPARE(settings->apiToken().get(), stored);
        QCOMPARE(isUsableApiToken(settings->apiToken().get()), usable);
    }

    void settersPublishSaveAndRunTheirEffectsInOrder_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QStringList>("effects");
        QTest::newRow("userName") << "userName" << QStringList{"sendUpdate(false)"};
        QTest::newRow("teamName") << "teamName" << QStringList{"join", "sendUpdate(false)"};
        QTest::newRow("userEmail") << "userEmail" << QStringList{};
        QTest::newRow("serverBaseURL") << "serverBaseURL" << QStringList{"reconnect", "fetchTeams"};
        QTest::newRow("apiToken") << "apiToken" << QStringList{"reconnect"};
        QTest::newRow("userStatus") << "userStatus" << QStringList{"sendUpdate(false)"};
        QTest::newRow("includeNowPlaying") << "includeNowPlaying" << QStringList{"sendUpdate(false)"};
        QTest::newRow("autoRetakeMinutes") << "autoRetakeMinutes" << QStringList{"retake"};
    }
    void settersPublishSaveAndRunTheirEffectsInOrder()
    {
        QFETCH(QString, setting);
        QFETCH(QStringList, effects);
        SettingsStore store(m_path);
        QTest::ignoreMessage(QtInfoMsg, tokenInitDefault);
        QTest::ignoreMessage(QtInfoMsg, tokenFromStoreNone);
        QTest::ignoreMessage(QtInfoMsg, tokenFinalDefault);

        // Each effect must find the value already saved.
        auto savedNow = [&] {
            if (setting == QLatin1String("includeNowPlaying"))
                return store.flag(setting) == std::optional<bool>(true);
            if (setting == QLatin1String("autoRetakeMinutes"))
                return store.integer(setting) == std::optional<qint64>(7);
            return store.text(setting) == std::optional<QString>(QStringLiteral("Value"));
        };
        SettingsEffects effectsChecked = recordingEffects();
        auto s = std::make_unique<AppSettings>(store, m_clock,
                                               SettingsEffects{[&](bool f) {
                                                                   QVERIFY(savedNow());
                                                                   effectsChecked.sendUpdate(f);
                                                               },
                                                               [&] {
                                                                   QVERIFY(savedNow());
                                                                   effectsChecked.sendWebSocketJoin();
                                                               },
                                                               [&] {
                                                                   QVERIFY(savedNow());
                                                                   effectsChecked.reconnect();
                                                               },
                                                               [&] {
                                                                   QVERIFY(savedNow());
                                                                   effectsChecked.fetchTeams();
                                                               },
                                                               [&] {
                                                                   QVERIFY(savedNow());
                                                                   effectsChecked.setupAutoRetakeTimer();
                                                               }},
                                               [this] { m_events << QStringLiteral("changed"); });
        SubscriptionBag bag;
        auto note = [this](const QString&) { m_events << QStringLiteral("published"); };
        bag.add(s->userName().subscribe(nullptr, note));
        bag.add(s->teamName().subscribe(nullptr, note));
        bag.add(s->userEmail().subscribe(nullptr, note));
        bag.add(s->serverBaseURL().subscribe(nullptr, note));
        bag.add(s->apiToken().subscribe(nullptr, note));
        bag.add(s->userStatus().subscribe(nullptr, note));
        bag.add(s->includeNowPlaying().subscribe(nullptr,
                                                 [this](bool) { m_events << QStringLiteral("published"); }));
        bag.add(s->autoRetakeMinutes().subscribe(
            nullptr, [this](qint64) { m_events << QStringLiteral("published"); }));
        m_events.clear();

        auto assign = [&] {
            const QString value = QStringLiteral("Value");
            if (setting == QLatin1String("userName"))
                s->setUserName(value);
            else if (setting == QLatin1String("teamName"))
                s->setTeamName(value);
            else if (setting == QLatin1String("userEmail"))
                s->setUserEmail(value);
            else if (setting == QLatin1String("serverBaseURL"))
                s->setServerBaseURL(value);
            else if (setting == QLatin1String("apiToken"))
                s->setApiToken(value);
            else if (setting == QLatin1String("userStatus"))
                s->setUserStatus(value);
            else if (setting == QLatin1String("includeNowPlaying"))
                s->setIncludeNowPlaying(true);
            else
                s->setAutoRetakeMinutes(7);
        };
        const QStringList expected = QStringList{"changed", "published"} + effects;
        assign();
        QCOMPARE(m_events, expected);
        // The same value again: saved again, every effect again.
        m_events.clear();
        assign();
        QCOMPARE(m_events, expected);
    }

    void statusStampFollowsTheStatus()
    {
        SettingsStore store(m_path);
        QTest::ignoreMessage(QtInfoMsg, tokenFromStoreNone);
        QTest::ignoreMessage(QtInfoMsg, tokenFinalDefault);
        auto settings = load(store);
        const QString key = QString::fromLatin1(userStatusUpdatedAtKey);

        settings->setUserStatus(QStringLiteral("Busy"));
        QCOMPARE(store.date(key), m_clock.now());
        // An unchanged text is stamped again with the new time.
        m_clock.setNow(m_clock.now().addSecs(90));
        settings->setUserStatus(QStringLiteral("Busy"));
        QCOMPARE(store.date(key), m_clock.now());
        settings->setUserStatus(QString());
        QVERIFY(!store.contains(key));
        QCOMPARE(store.text(QStringLiteral("userStatus")), QString());
        QCOMPARE(m_events.count(QStringLiteral("sendUpdate(false)")), 3);
    }
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_app_settings.moc"
