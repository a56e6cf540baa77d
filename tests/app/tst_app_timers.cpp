#include "app/AppSettings.h"
#include "app/AppTimers.h"
#include "app/StatusCutoff.h"
#include "platform/core/SettingsStore.h"
#include "platform/notify/FakeNotifier.h"

#include "LogRecorder.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace pondra;
using namespace std::chrono_literals;

namespace {
QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}
QDateTime local(const char* zone, int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone(zone)).toUTC();
}
} // namespace

// The clock-driven state, on virtual time, with real settings behind it.
class TestAppTimers : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<VirtualScheduler> m_scheduler;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<FakeNotifier> m_notifier;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<AppTimers> m_timers;
    bool m_present = true;
    int m_captures = 0;
    int m_updates = 0;
    bool m_settingsOpened = false;

    void build(const QDateTime& now, const QTimeZone& zone)
    {
        m_scheduler = std::make_unique<VirtualScheduler>(now, zone);
        m_store = std::make_unique<SettingsStore>(m_dir.filePath(QStringLiteral("Pondra.conf")));
        m_notifier = std::make_unique<FakeNotifier>();
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[Token Init\\]")));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[Token Init\\]")));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[Token Init\\]")));
        SettingsEffects effects;
        effects.sendUpdate = [this](bool) { ++m_updates; };
        effects.setupAutoRetakeTimer = [this] { m_timers->setupAutoRetakeTimer(); };
        m_settings = std::make_unique<AppSettings>(*m_store, *m_scheduler, effects);
        AppTimerHooks hooks;
        hooks.autoRetakeMinutes = [this] { return m_settings->autoRetakeMinutes().get(); };
        hooks.isPondraMode = [this] { return m_present; };
        hooks.capturePondra = [this] { ++m_captures; };
        hooks.userStatus = [this] { return m_settings->userStatus().get(); };
        hooks.setUserStatus = [this](const QString& s) { m_settings->setUserStatus(s); };
        hooks.hasUserName = [this] { return m_settings->hasUserName(); };
        hooks.openSettings = [this] { m_settingsOpened = true; };
        m_timers = std::make_unique<AppTimers>(*m_scheduler, *m_store, *m_notifier, hooks);
    }

    /// Sets the status at `stampedAt`, then moves the clock to `now`.
    void setStatusAt(const QString& status, const QDateTime& stampedAt, const QDateTime& now)
    {
        m_scheduler->setNow(stampedAt);
        m_settings->setUserStatus(status);
        m_scheduler->setNow(now);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QFile::remove(m_dir.filePath(QStringLiteral("Pondra.conf")));
        m_present = true;
        m_captures = m_updates = 0;
        m_settingsOpened = false;
    }
    void cleanup()
    {
        m_timers.reset();
        m_settings.reset();
    }

    void staleness_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("stamp");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("cleared");
        const char* hel = "Europe/Helsinki";
        QTest::newRow("02:59:59 cleared at 03:00:00") << QByteArray(hel) << local(hel, 2026, 6, 10, 2, 59, 59)
                                                      << local(hel, 2026, 6, 10, 3, 0, 0) << true;
        QTest::newRow("03:00:00 kept at 03:00:00") << QByteArray(hel) << local(hel, 2026, 6, 10, 3, 0, 0)
                                                   << local(hel, 2026, 6, 10, 3, 0, 0) << false;
        QTest::newRow("03:00:00 kept until next 02:59:59")
            << QByteArray(hel) << local(hel, 2026, 6, 10, 3, 0, 0) << local(hel, 2026, 6, 11, 2, 59, 59)
            << false;
        QTest::newRow("03:00:00 cleared next 03:00") << QByteArray(hel) << local(hel, 2026, 6, 10, 3, 0, 0)
                                                     << local(hel, 2026, 6, 11, 3, 0, 0) << true;
        QTest::newRow("01:00 kept at 02:30")
            << QByteArray(hel) << local(hel, 2026, 6, 10, 1, 0) << local(hel, 2026, 6, 10, 2, 30) << false;
        QTest::newRow("14:00 cleared next morning")
            << QByteArray(hel) << local(hel, 2026, 6, 9, 14, 0) << local(hel, 2026, 6, 10, 3, 5) << true;
        QTest::newRow("local day, not UTC day") // 03:00 in Tokyo is 18:00 UTC the day before
            << QByteArray("Asia/Tokyo") << utc(2026, 6, 9, 17, 59) << utc(2026, 6, 9, 18, 0) << true;
        // 2026-03-29 in Helsinki has no 03:00: the clock goes from 03:00 EET to 04:00 EEST.
        QTest::newRow("gap: cut-off is 04:00, earlier stamp cleared")
            << QByteArray(hel) << utc(2026, 3, 29, 0, 59, 59) << utc(2026, 3, 29, 1, 0) << true;
        QTest::newRow("gap: stamp at 04:00 kept")
            << QByteArray(hel) << utc(2026, 3, 29, 1, 0) << utc(2026, 3, 29, 1, 30) << false;
        QTest::newRow("gap: before 04:00 the cut-off is the day before")
            << QByteArray(hel) << utc(2026, 3, 28, 1, 0) << utc(2026, 3, 29, 0, 59, 59) << false;
        // At 02:30 on 30 March the cut-off is 29 March "03:00", which is 04:00 local
        // (01:00 UTC), not 24 hours before today's 03:00 (00:00 UTC).
        QTest::newRow("day before in calendar days")
            << QByteArray(hel) << utc(2026, 3, 29, 0, 30) << local(hel, 2026, 3, 30, 2, 30) << true;
    }
    void staleness()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, stamp);
        QFETCH(QDateTime, now);
        QFETCH(bool, cleared);
        build(stamp, QTimeZone(zone));
        setStatusAt(QStringLiteral("Lunch"), stamp, now);
        if (cleared)
            QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^Clearing stale status")));
        m_timers->checkStatusStaleness();
        QCOMPARE(m_settings->userStatus().get().isEmpty(), cleared);
        QCOMPARE(m_notifier->posted().size(), cleared ? 1 : 0);
    }

    void clearingLogsNotifiesThenClears()
    {
        const QDateTime stamp = utc(2026, 3, 28, 22, 59, 59); // 00:59:59 EET, before 03:00 on 29 March
        build(stamp, QTimeZone("Europe/Helsinki"));
        setStatusAt(QStringLiteral("In \"focus\""), stamp, utc(2026, 3, 29, 1, 0, 0));
        const int updatesBefore = m_updates;
        QTest::ignoreMessage(QtInfoMsg,
                             "Clearing stale status: 'In \"focus\"' (set at 2026-03-28 22:59:59 +0000, past "
                             "2026-03-29 01:00:00 +0000)");
        m_timers->checkStatusStaleness();

        QCOMPARE(m_notifier->posted().size(), 1);
        const NotificationRequest& posted = m_notifier->posted().first();
        QCOMPARE(posted.title, QStringLiteral("Status Cleared Overnight"));
        QCOMPARE(posted.body, QStringLiteral("Your status \"In \"focus\"\" was automatically cleared."));
        QVERIFY(posted.identifier.startsWith(QStringLiteral("org.pondra.Pondra.statusCleared.")));
        QCOMPARE(posted.identifier.size(), int(qstrlen("org.pondra.Pondra.statusCleared.")) + 36);
        QVERIFY(posted.category.isEmpty());
        QCOMPARE(m_settings->userStatus().get(), QString());
        QVERIFY(!m_store->contains(QString::fromLatin1(userStatusUpdatedAtKey)));
        QCOMPARE(m_updates, updatesBefore + 1);
    }

    void failedPostStillClears()
    {
        build(utc(2026, 6, 1, 12, 0), QTimeZone::utc());
        setStatusAt(QStringLiteral("Away"), utc(2026, 6, 1, 12, 0), utc(2026, 6, 2, 3, 0));
        m_notifier->setHoldPosts(true);
        m_notifier->setPostError(QStringLiteral("No notification server"));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^Clearing stale status")));
        m_timers->checkStatusStaleness();
        // Cleared without waiting for the notification's answer.
        QCOMPARE(m_settings->userStatus().get(), QString());
        QTest::ignoreMessage(QtCriticalMsg,
                             "Failed to post status cleared notification: No notification server");
        m_notifier->completePendingPosts();
    }

    void statusWithoutStampOrEmptyIsLeftAlone()
    {
        build(utc(2026, 6, 1, 12, 0), QTimeZone::utc());
        m_store->setText(QStringLiteral("userStatus"), QStringLiteral("Old"));
        m_store->setText(QString::fromLatin1(userStatusUpdatedAtKey), QStringLiteral("not a date"));
        build(utc(2026, 6, 1, 12, 0), QTimeZone::utc()); // load the status as a start would
        QCOMPARE(m_settings->userStatus().get(), QStringLiteral("Old"));
        m_scheduler->setNow(utc(2026, 7, 1, 12, 0));
        m_timers->checkStatusStaleness();
        QCOMPARE(m_settings->userStatus().get(), QStringLiteral("Old"));
        m_store->remove(QString::fromLatin1(userStatusUpdatedAtKey));
        m_timers->checkStatusStaleness();
        QCOMPARE(m_settings->userStatus().get(), QStringLiteral("Old"));
        QVERIFY(m_notifier->posted().isEmpty());
    }

    void stalenessRunsAtOnceAndEveryFiveMinutes()
    {
        const QTimeZone zone("Europe/Helsinki");
        build(local("Europe/Helsinki", 2026, 6, 9, 22, 0), zone);
        m_settings->setUserStatus(QStringLiteral("Evening"));
        m_scheduler->setNow(local("Europe/Helsinki", 2026, 6, 10, 2, 58));
        m_timers->setupStatusStalenessTimer(); // the check at once: still before 03:00
        QCOMPARE(m_settings->userStatus().get(), QStringLiteral("Evening"));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^Clearing stale status")));
        m_scheduler->advance(299s);
        QCOMPARE(m_settings->userStatus().get(), QStringLiteral("Evening"));
        m_scheduler->advance(1s); // 03:03, the first check after 03:00
        QCOMPARE(m_settings->userStatus().get(), QString());
        QCOMPARE(m_notifier->posted().size(), 1);
    }

    void autoRetakeRearmsAndSkipsWhileAway()
    {
        build(utc(2026, 6, 1, 12, 0), QTimeZone::utc());
        m_settings->setAutoRetakeMinutes(5);
        QVERIFY(m_timers->isAutoRetakeArmed());
        m_scheduler->advance(299s);
        QCOMPARE(m_captures, 0); // never at once on arming
        m_scheduler->advance(1s);
        QCOMPARE(m_captures, 1);

        // Re-armed from the change, not from the last tick.
        m_scheduler->advance(120s);
        m_settings->setAutoRetakeMinutes(10);
        m_scheduler->advance(599s);
        QCOMPARE(m_captures, 1);
        m_scheduler->advance(1s);
        QCOMPARE(m_captures, 2);

        m_present = false;
        m_scheduler->advance(600s);
        QCOMPARE(m_captures, 2);
        m_present = true;
        m_scheduler->advance(600s);
        QCOMPARE(m_captures, 3);
    }

    void autoRetakeOffAtZeroOrBelow_data()
    {
        QTest::addColumn<qint64>("minutes");
        QTest::newRow("zero") << qint64(0);
        QTest::newRow("negative") << qint64(-5);
    }
    void autoRetakeOffAtZeroOrBelow()
    {
        QFETCH(qint64, minutes);
        build(utc(2026, 6, 1, 12, 0), QTimeZone::utc());
        m_settings->setAutoRetakeMinutes(1);
        m_settings->setAutoRetakeMinutes(minutes);
        QVERIFY(!m_timers->isAutoRetakeArmed());
        QCOMPARE(m_store->integer(QStringLiteral("autoRetakeMinutes")), minutes);
        m_scheduler->advance(3600s);
        QCOMPARE(m_captures, 0);
    }

    void settingsPromptOnlyWithoutAName()
    {
        build(utc(2026, 6, 1, 12, 0), QTimeZone::utc());
        m_timers->checkEmailOnStartup();
        m_scheduler->advance(499ms);
        QVERIFY(!m_settingsOpened);
        m_scheduler->advance(1ms);
        QVERIFY(m_settingsOpened);

        m_settingsOpened = false;
        m_settings->setUserName(QStringLiteral("Aino")); // no e-mail: still no prompt
        m_timers->checkEmailOnStartup();
        m_scheduler->advance(1s);
        QVERIFY(!m_settingsOpened);
    }

    void cutoffOfAnAmbiguousMorningIsItsFirstThreeOClock()
    {
        // 2026-10-25 in Helsinki shows 03:00–03:59 twice; the calendar takes the first.
        const QTimeZone zone("Europe/Helsinki");
        QCOMPARE(localMoment(QDate(2026, 10, 25), QTime(3, 0), zone), utc(2026, 10, 25, 0, 0));
        QCOMPARE(localMoment(QDate(2026, 3, 29), QTime(3, 0), zone), utc(2026, 3, 29, 1, 0));
        QCOMPARE(statusCutoff(utc(2026, 10, 25, 0, 30), zone), utc(2026, 10, 25, 0, 0));
    }

    void unknownSystemZoneCountsAsUtc()
    {
        const QByteArray saved = qgetenv("TZ");
        const bool hadZone = qEnvironmentVariableIsSet("TZ");
        const auto restore = qScopeGuard([&] {
            if (hadZone)
                qputenv("TZ", saved);
            else
                qunsetenv("TZ");
        });
        test::LogRecorder log;
        RealScheduler& real = RealScheduler::instance();

        qputenv("TZ", "Nowhere/Atlantis");
        for (int check = 0; check < 3; ++check) {
            QCOMPARE(real.timeZone(), QTimeZone::utc());
            // The clearing still has its 03:00, as UTC.
            QCOMPARE(statusCutoff(utc(2026, 6, 2, 9, 0), real.timeZone()), utc(2026, 6, 2, 3, 0));
        }
        QCOMPARE(log.take(), QStringList{QStringLiteral("error: Unknown system time zone \"Nowhere/Atlantis\", using UTC")});

        qputenv("TZ", "Asia/Tokyo");
        QCOMPARE(real.timeZone(), QTimeZone("Asia/Tokyo"));
        QCOMPARE(statusCutoff(utc(2026, 6, 2, 9, 0), real.timeZone()), utc(2026, 6, 1, 18, 0));
        QVERIFY(log.take().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAppTimers)
#include "tst_app_timers.moc"
