#include "TestProcesses.h"
#include "platform/core/Scheduler.h"
#include "platform/session/LogindSessionEvents.h"
#include "sensing/SystemEventObserver.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>

using namespace pondra;
using namespace std::chrono_literals;

namespace {
const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");
const quint32 uid = 1000;

QDBusMessage call(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& method, const QVariantList& args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setArguments(args);
    return bus.call(m);
}
} // namespace

// The real session-event backend and the observer on a private system bus
// (python3-dbusmock's logind) and a private session bus (our screensaver mock).
class TestLogindEvents : public QObject
{
    Q_OBJECT
private:
    struct Desktop
    {
        test::PrivateBus system;
        test::PrivateBus session;
        test::DBusMockProcess logind;
        test::DBusMockProcess screensaver;
        VirtualScheduler scheduler;
        LogindSessionEvents* events = nullptr;
        std::unique_ptr<SystemEventObserver> observer;
        int locks = 0;
        int wakes = 0;
        QList<bool> published;
        QObject context;
        Subscription flag;

        bool start()
        {
            return system.start() && session.start() &&
                   logind.start(system, true, QStringLiteral("logind")) &&
                   screensaver.start(session, false,
                                     qEnvironmentVariable("PONDRA_SOURCE_DIR") +
                                         QStringLiteral("/tests/idle/desktop_session_mock.py"),
                                     QStringLiteral(R"({"gnome": true})")) &&
                   system.waitForService(login1) &&
                   session.waitForService(QStringLiteral("org.gnome.ScreenSaver"));
        }

        QString addSession(const QString& id)
        {
            const QDBusMessage r =
                call(system.connection(), login1, managerPath, mockInterface, QStringLiteral("AddSession"),
                     {id, QStringLiteral("seat0"), uid, QStringLiteral("pondra"), true});
            return r.arguments().value(0).toString();
        }

        void addManagerMethod(const QString& name, const QString& in, const QString& out, const QString& code)
        {
            call(system.connection(), login1, managerPath, mockInterface, QStringLiteral("AddMethod"),
                 {QStringLiteral("org.freedesktop.login1.Manager"), name, in, out, code});
        }

        void observe(SessionIdentity identity)
        {
            auto backend = std::make_unique<LogindSessionEvents>(system.connection(), session.connection(),
                                                                 identity, scheduler);
            events = backend.get();
            observer = std::make_unique<SystemEventObserver>([this] { ++locks; }, [this] { ++wakes; },
                                                             std::move(backend), scheduler);
            flag = observer->isScreenLocked.subscribe(&context, [this](const bool& v) { published << v; });
            published.clear();
        }

        bool waitFor(const std::function<bool()>& done)
        {
            return QTest::qWaitFor(
                [&] {
                    scheduler.runPending();
                    return done();
                },
                10'000);
        }

        bool waitForSession()
        {
            return waitFor([this] { return !events->sessionPath().isEmpty(); });
        }

        /// The usual desktop: session "c1" found through XDG_SESSION_ID. Its path, or empty on failure.
        QString startWatchingSession()
        {
            if (!start())
                return {};
            const QString path = addSession(QStringLiteral("c1"));
            observe({QStringLiteral("c1"), 1, uid});
            return waitForSession() ? path : QString();
        }

        void setLockedHint(const QString& path, bool locked)
        {
            call(system.connection(), login1, path, QStringLiteral("org.freedesktop.login1.Session"),
                 QStringLiteral("SetLockedHint"), {locked});
        }
        void sessionSignal(const QString& path, const QString& name)
        {
            call(system.connection(), login1, path, mockInterface, QStringLiteral("EmitSignal"),
                 {QStringLiteral("org.freedesktop.login1.Session"), name, QString(), QVariantList{}});
        }
        void prepareForSleep(bool starting)
        {
            call(system.connection(), login1, managerPath, mockInterface, QStringLiteral("EmitSignal"),
                 {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                  QStringLiteral("b"), QVariantList{QVariant::fromValue(QDBusVariant(starting))}});
        }
        void activeChanged(const QString& screensaver, bool active)
        {
            const QString path =
                QLatin1Char('/') + QString(screensaver).replace(QLatin1Char('.'), QLatin1Char('/'));
            call(session.connection(), screensaver, path, mockInterface, QStringLiteral("EmitSignal"),
                 {screensaver, QStringLiteral("ActiveChanged"), QStringLiteral("b"),
                  QVariantList{QVariant::fromValue(QDBusVariant(active))}});
        }
    };

    const QString freedesktop = QStringLiteral("org.freedesktop.ScreenSaver");
    const QString gnome = QStringLiteral("org.gnome.ScreenSaver");

private Q_SLOTS:
    void findsTheSession_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("by XDG_SESSION_ID") << "id";
        QTest::newRow("by process") << "pid";
        QTest::newRow("by the user's display session") << "user";
        QTest::newRow("unknown session id falls back to the process") << "bad id";
    }
    void findsTheSession()
    {
        QFETCH(QString, way);
        Desktop d;
        QVERIFY(d.start());
        const QString path = d.addSession(QStringLiteral("c7"));
        QVERIFY(!path.isEmpty());
        SessionIdentity identity{{}, 4242, uid};
        if (way == QLatin1String("id"))
            identity.sessionId = QStringLiteral("c7");
        if (way == QLatin1String("bad id")) {
            identity.sessionId = QStringLiteral("nope");
            d.addManagerMethod(QStringLiteral("GetSession"), QStringLiteral("s"), QStringLiteral("o"),
                               QStringLiteral("raise dbus.exceptions.DBusException('no', "
                                              "name='org.freedesktop.login1.NoSuchSession')"));
        }
        if (way == QLatin1String("pid") || way == QLatin1String("bad id"))
            d.addManagerMethod(QStringLiteral("GetSessionByPID"), QStringLiteral("u"), QStringLiteral("o"),
                               QStringLiteral("ret = '%1' if args[0] == 4242 else '/'").arg(path));
        if (way == QLatin1String("user")) {
            d.addManagerMethod(QStringLiteral("GetUser"), QStringLiteral("u"), QStringLiteral("o"),
                               QStringLiteral("ret = '/org/freedesktop/login1/user/%d' % args[0]"));
            QDBusArgument display;
            display.beginStructure();
            display << QStringLiteral("c7") << QDBusObjectPath(path);
            display.endStructure();
            const QDBusMessage r = call(
                d.system.connection(), login1, QStringLiteral("/org/freedesktop/login1/user/%1").arg(uid),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                {QStringLiteral("org.freedesktop.login1.User"), QStringLiteral("Display"),
                 QVariant::fromValue(QDBusVariant(QVariant::fromValue(display)))});
            QVERIFY2(r.type() == QDBusMessage::ReplyMessage, qPrintable(r.errorMessage()));
        }
        d.observe(identity);
        QVERIFY(d.waitForSession());
        QCOMPARE(d.events->sessionPath(), path);
    }

    void lockAndUnlockThroughTheHint()
    {
        Desktop d;
        QVERIFY(d.start());
        const QString path = d.addSession(QStringLiteral("c1"));
        d.setLockedHint(path, true); // locked before the program starts
        d.observe({QStringLiteral("c1"), 1, uid});
        QVERIFY(d.waitForSession());
        QCOMPARE(d.observer->isScreenLocked.get(), false); // never seeded from the hint

        d.setLockedHint(path, true);
        QVERIFY(d.waitFor([&] { return d.locks == 1; }));
        QCOMPARE(d.observer->isScreenLocked.get(), true);
        d.setLockedHint(path, false);
        QVERIFY(d.waitFor([&] { return !d.observer->isScreenLocked.get(); }));
        QCOMPARE(d.locks, 1);
        QCOMPARE(d.published, (QList<bool>{true, false}));
    }

    void lockAndUnlockThroughSessionSignals()
    {
        Desktop d;
        const QString path = d.startWatchingSession();
        QVERIFY(!path.isEmpty());
        QVERIFY(!d.events->screenSaversDecide());

        d.sessionSignal(path, QStringLiteral("Lock"));
        QVERIFY(d.waitFor([&] { return d.locks == 1; }));
        d.sessionSignal(path, QStringLiteral("Unlock"));
        QVERIFY(d.waitFor([&] { return d.published.size() == 2; }));
        QCOMPARE(d.published, (QList<bool>{true, false}));
    }

    void blankScreenIsNoLock_data()
    {
        QTest::addColumn<QString>("screensaver");
        QTest::addColumn<bool>("locksLater");
        QTest::newRow("GNOME blanks, no lock") << gnome << false;
        QTest::newRow("freedesktop blanks, no lock") << freedesktop << false;
        // The lock comes after a 3 s lock delay: one lock, not two.
        QTest::newRow("GNOME blanks, locks 3 s later") << gnome << true;
        QTest::newRow("freedesktop blanks, locks 3 s later") << freedesktop << true;
    }
    void blankScreenIsNoLock()
    {
        QFETCH(QString, screensaver);
        QFETCH(bool, locksLater);
        Desktop d;
        const QString path = d.startWatchingSession();
        QVERIFY(!path.isEmpty());

        d.activeChanged(screensaver, true);
        QTest::qWait(200);
        d.scheduler.advance(3s);
        QCOMPARE(d.locks, 0);
        QCOMPARE(d.observer->isScreenLocked.get(), false);
        if (locksLater) {
            d.setLockedHint(path, true);
            QVERIFY(d.waitFor([&] { return d.locks == 1; }));
        }
        d.activeChanged(screensaver, false);
        if (locksLater)
            d.setLockedHint(path, false);
        QTest::qWait(200);
        d.scheduler.runPending();
        QCOMPARE(d.locks, locksLater ? 1 : 0);
        QCOMPARE(d.published, locksLater ? (QList<bool>{true, false}) : QList<bool>{});
    }

    void screensaversDecideWithoutALogindSession()
    {
        Desktop d;
        QVERIFY(d.start());
        d.observe({QStringLiteral("c9"), 1, uid}); // logind knows no such session
        QVERIFY(d.waitFor([&] { return d.events->screenSaversDecide(); }));

        d.activeChanged(gnome, true);
        QVERIFY(d.waitFor([&] { return d.locks == 1; }));
        d.activeChanged(gnome, false);
        QVERIFY(d.waitFor([&] { return d.published.size() == 2; }));
        d.scheduler.advance(2s);
        d.activeChanged(freedesktop, true);
        QVERIFY(d.waitFor([&] { return d.locks == 2; }));
        QCOMPARE(d.published, (QList<bool>{true, false, true}));
    }

    void twoLocksFromOneSourceCountTwice()
    {
        Desktop d;
        const QString path = d.startWatchingSession();
        QVERIFY(!path.isEmpty());
        d.sessionSignal(path, QStringLiteral("Lock"));
        d.sessionSignal(path, QStringLiteral("Lock"));
        QVERIFY(d.waitFor([&] { return d.locks == 2; }));
        QCOMPARE(d.published, (QList<bool>{true, true}));
    }

    void oneLockSeenByTwoSourcesCountsOnce()
    {
        Desktop d;
        const QString path = d.startWatchingSession();
        QVERIFY(!path.isEmpty());

        d.setLockedHint(path, true);
        QVERIFY(d.waitFor([&] { return d.locks == 1; }));
        d.sessionSignal(path, QStringLiteral("Lock")); // the same lock, as a signal
        d.setLockedHint(path, false);                  // then an unlock
        QVERIFY(d.waitFor([&] { return !d.observer->isScreenLocked.get(); }));
        QCOMPARE(d.locks, 1);
        QCOMPARE(d.published, (QList<bool>{true, false}));

        // A second later another service's report is a new event.
        d.scheduler.advance(1s);
        d.sessionSignal(path, QStringLiteral("Unlock"));
        QVERIFY(d.waitFor([&] { return d.published.size() == 3; }));
    }

    void wakeCallsTheActionAndLeavesTheFlag()
    {
        Desktop d;
        const QString path = d.startWatchingSession();
        QVERIFY(!path.isEmpty());
        d.setLockedHint(path, true);
        QVERIFY(d.waitFor([&] { return d.locks == 1; }));

        d.prepareForSleep(true); // going to sleep is not a wake
        d.prepareForSleep(false);
        QVERIFY(d.waitFor([&] { return d.wakes == 1; }));
        QTest::qWait(100);
        d.scheduler.runPending();
        QCOMPARE(d.wakes, 1);
        QCOMPARE(d.observer->isScreenLocked.get(), true);
    }

    void releasedObserverHearsNothing()
    {
        Desktop d;
        const QString path = d.startWatchingSession();
        QVERIFY(!path.isEmpty());
        d.observer.reset();
        d.setLockedHint(path, true);
        d.activeChanged(gnome, true);
        d.prepareForSleep(false);
        QTest::qWait(300);
        d.scheduler.runPending();
        QCOMPARE(d.locks, 0);
        QCOMPARE(d.wakes, 0);
    }

    void missingBusesAndServicesAreLoggedAndTolerated()
    {
        test::PrivateBus emptySession;
        QVERIFY(emptySession.start());
        QTest::ignoreMessage(QtInfoMsg, "No system bus: screen lock and wake are not seen from logind");
        QTest::ignoreMessage(
            QtInfoMsg, "No screensaver service on the session bus: screen lock is seen only from logind");
        VirtualScheduler scheduler;
        LogindSessionEvents events(QDBusConnection(QStringLiteral("pondra-no-such-bus")),
                                   emptySession.connection(), SessionIdentity{{}, 1, uid}, scheduler);
        QTest::qWait(300);

        test::PrivateBus emptySystem;
        QVERIFY(emptySystem.start());
        QTest::ignoreMessage(QtInfoMsg, "No session bus: screen lock is not seen from the screensaver");
        QTest::ignoreMessage(QtInfoMsg,
                             QRegularExpression(QStringLiteral(
                                 "^No logind session found \\(.*\\): screen lock is not seen from logind$")));
        LogindSessionEvents noLogind(emptySystem.connection(),
                                     QDBusConnection(QStringLiteral("pondra-no-such-bus")),
                                     SessionIdentity{QStringLiteral("c1"), 1, uid}, scheduler);
        QTest::qWait(500);
        QVERIFY(noLogind.sessionPath().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLogindEvents)
#include "tst_logindevents.moc"
