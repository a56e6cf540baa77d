// The delegate on the whole application state with fakes and virtual time:
// what its launch step builds, in which order, and how it answers the
// notification server and a second copy.
#include "program/AppDelegate.h"
#include "program/ProgramViews.h"

#include "AppRig.h"
#include "RecordingRingWindows.h"

#include <QMainWindow>
#include <QtTest>

using namespace pondra;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(pondra::SingleInstanceGuard::Turn)

class TestAppDelegate final : public QObject
{
    Q_OBJECT

private:
    /// The state, a main window and a delegate whose hooks record what they make.
    struct Rig
    {
        test::AppRig app;
        QMainWindow mainWindow;
        QStringList calls;
        QScreen* screen = QGuiApplication::primaryScreen();
        bool overlays = true;
        std::unique_ptr<AppDelegate> delegate;

        void launch()
        {
            app.build();
            AppDelegate::Options options;
            options.overlays = overlays;
            options.screens = [] { return ScreenAreas{QRect(0, 30, 1000, 700), {QRect(0, 30, 1000, 700)}}; };
            options.primaryScreen = [this] { return screen; };
            // The program's own team window, which names and sizes itself.
            options.windows.teamWindow = [this](AppState& state) {
                calls << QStringLiteral("team window made");
                return makeTeamWindow(state);
            };
            options.windows.glowWindow = [this](AppState&, QScreen&) {
                calls << QStringLiteral("glow made");
                return std::make_unique<test::RecordingGlow>(calls);
            };
            options.windows.cursorRing = [this](AppState&) {
                calls << QStringLiteral("bubble made");
                return std::make_unique<test::RecordingBubble>(calls);
            };
            delegate = std::make_unique<AppDelegate>(*app.app, mainWindow, std::move(options));
            delegate->applicationDidFinishLaunching();
        }

        ~Rig()
        {
            if (delegate) {
                QTest::ignoreMessage(QtCriticalMsg, "AppDelegate is being deallocated!");
                delegate.reset();
            }
        }
    };

private Q_SLOTS:
    void launchStepRunsOnTheNextTurn_data();
    void launchStepRunsOnTheNextTurn();
    void teamWindowIdentifiedPlacedAndShown();
    void settingsAskedForOnlyWithoutAName();
    void notificationAnswersReachTheRingManager_data();
    void notificationAnswersReachTheRingManager();
    void mainWindowComesForward();
    void secondCopyAlertSaysWhatBecameOfTheRequest_data();
    void secondCopyAlertSaysWhatBecameOfTheRequest();
};

void TestAppDelegate::launchStepRunsOnTheNextTurn_data()
{
    QTest::addColumn<bool>("withScreen");
    QTest::addColumn<bool>("overlays");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("everything") << true << true
                                << QStringList({"team window made", "glow made", "glow hidden", "bubble made",
                                                "glow hidden", "bubble hidden"});
    QTest::newRow("no screen: no glow")
        << false << true << QStringList({"team window made", "bubble made", "bubble hidden"});
    QTest::newRow("a platform without overlays") << true << false << QStringList({"team window made"});
}

void TestAppDelegate::launchStepRunsOnTheNextTurn()
{
    QFETCH(bool, withScreen);
    QFETCH(bool, overlays);
    QFETCH(QStringList, calls);

    Rig rig;
    if (!withScreen)
        rig.screen = nullptr;
    rig.overlays = overlays;
    rig.launch();
    QVERIFY(rig.calls.isEmpty());
    // The launch step, then the observer's first value (no ring) on the turn after.
    rig.app.scheduler.runPending();
    rig.app.scheduler.runPending();
    QCOMPARE(rig.calls, calls);
    QCOMPARE(rig.delegate->glowWindow() != nullptr, withScreen && overlays);
    QCOMPARE(rig.delegate->cursorRingWindow() != nullptr, overlays);
}

void TestAppDelegate::teamWindowIdentifiedPlacedAndShown()
{
    Rig rig;
    rig.app.store->setText(QStringLiteral("keepTeamWindowOnTop"), QStringLiteral("true"));
    rig.launch();
    rig.app.scheduler.runPending();
    QWidget* team = rig.delegate->teamWindow();
    QVERIFY(team);
    QCOMPARE(team->objectName(), QStringLiteral("PondraTeamWindow"));
    QCOMPARE(team->windowRole(), QStringLiteral("PondraTeamWindow"));
    QVERIFY(team->isVisible());
    QCOMPARE(team->pos(), QPoint(10, 40));
    QCOMPARE(team->width(), 196);
    QVERIFY(team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    // A ring drives the glow and the bubble, the glow raised last.
    rig.app.scheduler.runPending();
    rig.calls.clear();
    rig.app.app->ringManager().showRingNotification(QStringLiteral("Bo"), std::nullopt, std::nullopt);
    rig.app.scheduler.runPending();
    QCOMPARE(rig.calls, QStringList({"glow shown", "bubble shown for Bo", "glow raised"}));

    rig.delegate->releaseWindows();
    QVERIFY(!rig.delegate->teamWindow());
}

void TestAppDelegate::settingsAskedForOnlyWithoutAName()
{
    for (const bool named : {true, false}) {
        Rig rig;
        if (!named)
            rig.app.store->remove(QStringLiteral("userName"));
        rig.launch();
        rig.app.scheduler.advance(400ms);
        QVERIFY(!rig.app.app->shouldOpenSettings.get());
        rig.app.scheduler.advance(200ms);
        QCOMPARE(rig.app.app->shouldOpenSettings.get(), !named);
    }
}

void TestAppDelegate::notificationAnswersReachTheRingManager_data()
{
    QTest::addColumn<QString>("actionKey");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("Sure") << QStringLiteral("SURE") << true;
    QTest::newRow("a click on the notification") << Notifier::defaultActionKey() << true;
    QTest::newRow("Later") << QStringLiteral("LATER") << false;
    QTest::newRow("dismissed") << QString() << false;
}

void TestAppDelegate::notificationAnswersReachTheRingManager()
{
    QFETCH(QString, actionKey);
    QFETCH(bool, accepted);

    Rig rig;
    rig.launch();
    rig.app.settle();
    rig.app.app->ringManager().showRingNotification(QStringLiteral("Bo"), std::nullopt, std::nullopt);
    const QString id = rig.app.app->incomingRing.get()->id;
    const qsizetype before = rig.app.http->requests().size();

    // An identifier of no pending ring is ignored.
    rig.app.notifier->invokeAction(QStringLiteral("no-such-ring"), QStringLiteral("SURE"));
    if (actionKey.isEmpty())
        rig.app.notifier->dismiss(id);
    else
        rig.app.notifier->invokeAction(id, actionKey);
    rig.app.scheduler.runPending();

    const auto& requests = rig.app.http->requests();
    QCOMPARE(requests.size(), before + 1);
    QCOMPARE(requests.last().url.path(), QStringLiteral("/pondra/ring-response"));
    const QJsonObject body = QJsonDocument::fromJson(requests.last().body).object();
    QCOMPARE(body.value(QStringLiteral("accepted")).toBool(), accepted);
}

void TestAppDelegate::mainWindowComesForward()
{
    Rig rig;
    rig.launch();

    // An answer that brings the program forward leaves a closed main window closed.
    Q_EMIT rig.app.notifier->bringForwardRequested();
    QVERIFY(!rig.mainWindow.isVisible());

    // Another copy being started shows it.
    rig.delegate->bringMainWindowForward();
    QVERIFY(rig.mainWindow.isVisible());
    rig.mainWindow.showMinimized();
    rig.delegate->bringMainWindowForward();
    QVERIFY(!rig.mainWindow.isMinimized());
}

void TestAppDelegate::secondCopyAlertSaysWhatBecameOfTheRequest_data()
{
    using Turn = SingleInstanceGuard::Turn;
    QTest::addColumn<Turn>("turn");
    QTest::addColumn<QString>("informative");
    QTest::newRow("the other copy came forward")
        << Turn::otherCopyCameForward << "Another copy of Pondra is already open. Switching to it now.";
    // It hangs, or its lock came from another host: nothing comes forward.
    QTest::newRow("the other copy does not answer")
        << Turn::otherCopySilent << "Another copy of Pondra holds its lock but does not answer.";
}

void TestAppDelegate::secondCopyAlertSaysWhatBecameOfTheRequest()
{
    QFETCH(SingleInstanceGuard::Turn, turn);
    QFETCH(QString, informative);
    const std::unique_ptr<QMessageBox> alert = makeSecondCopyAlert(turn);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Pondra is already running"));
    QCOMPARE(alert->text(), QStringLiteral("Pondra is already running"));
    QCOMPARE(alert->informativeText(), informative);
    QCOMPARE(alert->icon(), QMessageBox::Information);
    QCOMPARE(alert->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(alert->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

QTEST_MAIN(TestAppDelegate)
#include "tst_app_delegate.moc"
