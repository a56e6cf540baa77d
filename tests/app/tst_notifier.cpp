#include "app/AppSettings.h"
#include "app/AppTimers.h"
#include "app/NotificationSetup.h"
#include "platform/core/SettingsStore.h"
#include "platform/notify/DBusNotifier.h"
#include "platform/notify/FakeNotifier.h"

#include "TestProcesses.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace pondra;
using namespace pondra::test;

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString mockInterface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString withMarkup = QStringLiteral(R"({"capabilities": "body body-markup actions"})");
const QString withoutMarkup = QStringLiteral(R"({"capabilities": "body actions"})");

/// One Notify call as the server received it.
struct NotifyCall
{
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
};

/// A notification server on a private bus that the test can speak for.
class NotificationServer
{
public:
    bool start(const QString& parameters)
    {
        return m_bus.start() &&
               m_mock.start(m_bus, false, QStringLiteral("notification_daemon"), parameters) &&
               m_bus.waitForService(service);
    }
    const PrivateBus& bus() const { return m_bus; }

    QList<NotifyCall> notifyCalls() const
    {
        QDBusMessage call =
            QDBusMessage::createMethodCall(service, path, mockInterface, QStringLiteral("GetMethodCalls"));
        call << QStringLiteral("Notify");
        const QDBusMessage reply = m_bus.connection().call(call);
        QList<NotifyCall> calls;
        if (reply.type() != QDBusMessage::ReplyMessage)
            return calls;
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            quint64 stamp = 0;
            QVariantList args;
            list.beginStructure();
            list >> stamp;
            list.beginArray();
            while (!list.atEnd()) {
                QDBusVariant v;
                list >> v;
                args << v.variant();
            }
            list.endArray();
            list.endStructure();
            NotifyCall notify;
            notify.summary = args.value(3).toString();
            notify.body = args.value(4).toString();
            notify.actions = qdbus_cast<QStringList>(args.value(5));
            notify.hints = qdbus_cast<QVariantMap>(args.value(6));
            calls << notify;
        }
        list.endArray();
        return calls;
    }

    bool emitSignal(const QString& name, const QString& signature, const QVariantList& values) const
    {
        QVariantList wrapped;
        for (const QVariant& v : values)
            wrapped << QVariant::fromValue(QDBusVariant(v));
        QDBusMessage call =
            QDBusMessage::createMethodCall(service, path, mockInterface, QStringLiteral("EmitSignal"));
        call << service << name << signature << QVariant::fromValue(wrapped);
        return m_bus.connection().call(call).type() == QDBusMessage::ReplyMessage;
    }

private:
    PrivateBus m_bus;
    DBusMockProcess m_mock;
};

/// A status set yesterday and the timers that clear it, posting through `notifier`.
class StaleStatusRig
{
public:
    StaleStatusRig(Notifier& notifier, const QString& status)
    {
        for (int i = 0; i < 3; ++i)
            QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^\\[Token Init\\]")));
        settings = std::make_unique<AppSettings>(store, scheduler, SettingsEffects{});
        settings->setUserStatus(status);
        AppTimerHooks hooks;
        hooks.userStatus = [this] { return settings->userStatus().get(); };
        hooks.setUserStatus = [this](const QString& s) { settings->setUserStatus(s); };
        timers = std::make_unique<AppTimers>(scheduler, store, notifier, hooks);
        scheduler.setNow(QDateTime(QDate(2026, 6, 2), QTime(3, 0), Qt::UTC));
    }

    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("Pondra.conf"))};
    VirtualScheduler scheduler{QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC)};
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppTimers> timers;
};

/// Posts and waits for the answer; the error text, or none on success.
std::optional<QString> postAndWait(Notifier& notifier, const NotificationRequest& request, bool* answered)
{
    std::optional<QString> result;
    *answered = false;
    QObject context;
    notifier.post(request, &context, [&](const std::optional<QString>& error) {
        result = error;
        *answered = true;
    });
    if (!QTest::qWaitFor([&] { return *answered; }, 15'000))
        return QStringLiteral("no answer");
    return result;
}

/// Asks the server once more and waits: questions already on their way are
/// answered first, in order, so their callbacks have run when this returns.
bool waitForServerAnswer(Notifier& notifier)
{
    QObject context;
    bool done = false;
    notifier.queryServer(&context, [&](const NotificationServerInfo&) { done = true; });
    return QTest::qWaitFor([&] { return done; }, 15'000);
}

NotificationRequest ringRequest(const QString& id)
{
    return {id, QStringLiteral("Ring"), QStringLiteral("Aino is ringing"), QStringLiteral("RING")};
}
} // namespace

class TestNotifier : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bodyIsEscapedOnlyWhereMarkupRenders_data()
    {
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<QString>("expectedBody");
        QTest::newRow("body-markup")
            << withMarkup << "Your status \"&lt;b&gt;R&amp;D&lt;/b&gt;\" was automatically cleared.";
        QTest::newRow("plain body") << withoutMarkup
                                    << "Your status \"<b>R&D</b>\" was automatically cleared.";
    }
    void bodyIsEscapedOnlyWhereMarkupRenders()
    {
        QFETCH(QString, parameters);
        QFETCH(QString, expectedBody);
        NotificationServer server;
        QVERIFY(server.start(parameters));
        DBusNotifier notifier(server.bus().connection());
        bool answered = false;
        const NotificationRequest request{
            QStringLiteral("x"),
            QStringLiteral("Status Cleared Overnight"),
            QStringLiteral("Your status \"<b>R&D</b>\" was automatically cleared."),
            {}};
        QCOMPARE(postAndWait(notifier, request, &answered), std::nullopt);
        QVERIFY(answered);
        const QList<NotifyCall> calls = server.notifyCalls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].summary, QStringLiteral("Status Cleared Overnight"));
        QCOMPARE(calls[0].body, expectedBody);
        QVERIFY(calls[0].actions.isEmpty());
        QVERIFY(!calls[0].hints.contains(QStringLiteral("category")));
    }

    void statusClearedNotificationReachesTheServer()
    {
        NotificationServer server;
        QVERIFY(server.start(withMarkup));
        DBusNotifier notifier(server.bus().connection());
        StaleStatusRig rig(notifier, QStringLiteral("Lunch <soon>"));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^Clearing stale status")));
        rig.timers->checkStatusStaleness();
        QCOMPARE(rig.settings->userStatus().get(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(server.notifyCalls().size(), 1, 15'000);
        const NotifyCall call = server.notifyCalls().first();
        QCOMPARE(call.summary, QStringLiteral("Status Cleared Overnight"));
        QCOMPARE(call.body, QStringLiteral("Your status \"Lunch &lt;soon&gt;\" was automatically cleared."));
    }

    void actionsAndDismissalsMapToOurIdentifier()
    {
        NotificationServer server;
        QVERIFY(server.start(withMarkup));
        DBusNotifier notifier(server.bus().connection());
        notifier.setCategories({ringNotificationCategory()});
        QSignalSpy actions(&notifier, &Notifier::actionInvoked);
        QSignalSpy dismissals(&notifier, &Notifier::dismissed);
        QSignalSpy forward(&notifier, &Notifier::bringForwardRequested);

        bool answered = false;
        QCOMPARE(postAndWait(notifier, ringRequest(QStringLiteral("RING-A")), &answered),
                 std::nullopt); // server number 1
        QCOMPARE(postAndWait(notifier, ringRequest(QStringLiteral("RING-B")), &answered), std::nullopt); // 2
        QCOMPARE(postAndWait(notifier, ringRequest(QStringLiteral("RING-C")), &answered), std::nullopt); // 3
        const QList<NotifyCall> calls = server.notifyCalls();
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls[0].actions, (QStringList{"SURE", "Sure!", "LATER", "Maybe Later", "default", ""}));
        QVERIFY(!calls[0].hints.contains(QStringLiteral("category")));

        // Another program's notification and an expiry are not ours to report.
        QVERIFY(server.emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"),
                                  {uint(77), QStringLiteral("SURE")}));
        QVERIFY(server.emitSignal(QStringLiteral("NotificationClosed"), QStringLiteral("uu"),
                                  {uint(3), uint(1)}));
        QVERIFY(server.emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"),
                                  {uint(1), QStringLiteral("SURE")}));
        QTRY_COMPARE(actions.size(), 1);
        QCOMPARE(actions[0], (QVariantList{QStringLiteral("RING-A"), QStringLiteral("SURE")}));
        QCOMPARE(forward.size(), 1);
        // The close that follows an action is not a dismissal.
        QVERIFY(server.emitSignal(QStringLiteral("NotificationClosed"), QStringLiteral("uu"),
                                  {uint(1), uint(2)}));
        QVERIFY(server.emitSignal(QStringLiteral("NotificationClosed"), QStringLiteral("uu"),
                                  {uint(2), uint(2)}));
        QTRY_COMPARE(dismissals.size(), 1);
        QCOMPARE(dismissals[0].value(0).toString(), QStringLiteral("RING-B"));
        // Notification 3 expired above: its later action is no longer ours either.
        QVERIFY(server.emitSignal(QStringLiteral("ActionInvoked"), QStringLiteral("us"),
                                  {uint(3), QStringLiteral("LATER")}));
        // Signals arrive in order: once this dismissal is seen, the action before it was ignored.
        QCOMPARE(postAndWait(notifier, ringRequest(QStringLiteral("RING-D")), &answered), std::nullopt); // 4
        QVERIFY(server.emitSignal(QStringLiteral("NotificationClosed"), QStringLiteral("uu"),
                                  {uint(4), uint(2)}));
        QTRY_COMPARE(dismissals.size(), 2);
        QCOMPARE(dismissals[1].value(0).toString(), QStringLiteral("RING-D"));
        QCOMPARE(actions.size(), 1);
        QCOMPARE(forward.size(), 1);
    }

    void responsesBecomeRingAnswers()
    {
        FakeNotifier notifier;
        QObject context;
        QList<QPair<QString, bool>> answers;
        routeNotificationResponses(notifier, &context, [&](const QString& id, bool accepted) {
            answers.append({id, accepted});
        });
        notifier.invokeAction(QStringLiteral("a"), QStringLiteral("SURE"));
        notifier.invokeAction(QStringLiteral("b"), QStringLiteral("LATER"));
        notifier.invokeAction(QStringLiteral("c"), Notifier::defaultActionKey());
        notifier.dismiss(QStringLiteral("d"));
        QCOMPARE(answers,
                 (QList<QPair<QString, bool>>{{"a", true}, {"b", false}, {"c", true}, {"d", false}}));
    }

    void setupLogsWhatTheServerSaid()
    {
        NotificationServer server;
        QVERIFY(server.start(withMarkup));
        DBusNotifier notifier(server.bus().connection());
        QObject context;
        QLoggingCategory::setFilterRules(QStringLiteral("org.pondra.Pondra.App.debug=true"));
        QTest::ignoreMessage(QtDebugMsg, "Notification settings: 2");
        QTest::ignoreMessage(QtDebugMsg, "Alert setting: 2");
        QTest::ignoreMessage(QtInfoMsg, "Notification permission granted: true");
        setupNotifications(notifier, &context);
        QVERIFY(waitForServerAnswer(notifier));
        QLoggingCategory::setFilterRules(QString());
    }

    void noServerFailsCleanly()
    {
        PrivateBus bus;
        QVERIFY(bus.start());
        DBusNotifier notifier(bus.connection());
        bool answered = false;
        const std::optional<QString> error =
            postAndWait(notifier, ringRequest(QStringLiteral("x")), &answered);
        QVERIFY(answered);
        QVERIFY(error && !error->isEmpty());

        QObject context;
        QLoggingCategory::setFilterRules(QStringLiteral("org.pondra.Pondra.App.debug=true"));
        QTest::ignoreMessage(QtDebugMsg, "Notification settings: 0");
        QTest::ignoreMessage(QtDebugMsg, "Alert setting: 0");
        QTest::ignoreMessage(QtInfoMsg, "Notification permission granted: false");
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("^Notification permission error: .+")));
        setupNotifications(notifier, &context);
        QVERIFY(waitForServerAnswer(notifier));
        QLoggingCategory::setFilterRules(QString());
    }

    void noBusAtAllFailsCleanly()
    {
        DBusNotifier notifier(QDBusConnection(QStringLiteral("pondra-no-such-connection")));
        bool answered = false;
        const std::optional<QString> error =
            postAndWait(notifier, ringRequest(QStringLiteral("x")), &answered);
        QVERIFY(answered);
        QVERIFY(error.has_value());
    }

    void statusClearedWithoutServerLogsAndClears()
    {
        PrivateBus bus;
        QVERIFY(bus.start());
        DBusNotifier notifier(bus.connection());
        StaleStatusRig rig(notifier, QStringLiteral("Lunch"));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^Clearing stale status")));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral(
                                                "^Failed to post status cleared notification: .+")));
        rig.timers->checkStatusStaleness();
        QCOMPARE(rig.settings->userStatus().get(), QString());
        QVERIFY(waitForServerAnswer(notifier));
    }
};

QTEST_GUILESS_MAIN(TestNotifier)
#include "tst_notifier.moc"
