#include "platform/core/SettingsStore.h"
#include "ui/kit/WindowFinder.h"

#include "TestEnvironment.h"
#include "ViewTesting.h"

#include <QAction>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>

#include <memory>

using namespace pondra;
using test::registeredWindow;

namespace {
QWidget* activeWindow()
{
    return QApplication::activeWindow();
}
} // namespace

class TestWindowFinder final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void mainWindowIsTheFirstTitledPondraWithoutTheTeamIdentifier()
    {
        auto disguised = registeredWindow(QStringLiteral("Pondra"), WindowIdentifiers::teamWindow);
        auto lowerCase = registeredWindow(QStringLiteral("pondra"));
        QCOMPARE(WindowFinder::findMainWindow(), nullptr);
        auto main = registeredWindow(QStringLiteral("Pondra"));
        auto second = registeredWindow(QStringLiteral("Pondra"), QStringLiteral("Other"));
        QCOMPARE(WindowFinder::findMainWindow(), main.get());
        QCOMPARE(WindowFinder::findTeamWindow(), disguised.get());
        main.reset();
        // A window with another identifier passes too; a destroyed one is gone.
        QCOMPARE(WindowFinder::findMainWindow(), second.get());
    }

    void noMainWindowMeansNothingHappens()
    {
        auto other = registeredWindow(QStringLiteral("Elsewhere"));
        other->show();
        other->activateWindow();
        QTRY_COMPARE(activeWindow(), other.get());
        WindowFinder::showMainWindow();
        QCoreApplication::processEvents();
        QCOMPARE(activeWindow(), other.get());
        QCOMPARE(WindowFinder::findTeamWindow(), nullptr);
        WindowFinder::showTeamWindow();
        WindowFinder::setTeamWindowOnTop(true);
    }

    void closedMainWindowComesBackActive()
    {
        auto main = registeredWindow(QStringLiteral("Pondra"));
        main->show();
        main->close();
        QVERIFY(!main->isVisible());
        QCOMPARE(WindowFinder::findMainWindow(), main.get());
        WindowFinder::showMainWindow();
        QVERIFY(main->isVisible());
        QTRY_COMPARE(activeWindow(), main.get());
    }

    void teamWindowShowsWithoutTakingTheFocus()
    {
        auto main = registeredWindow(QStringLiteral("Pondra"));
        auto team = registeredWindow(QString(), WindowIdentifiers::teamWindow);
        team->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        main->show();
        main->activateWindow();
        QTRY_COMPARE(activeWindow(), main.get());
        WindowFinder::showTeamWindow();
        QVERIFY(team->isVisible());
        QCoreApplication::processEvents();
        QCOMPARE(activeWindow(), main.get());
        // Closed, it comes back the same way.
        team->close();
        WindowFinder::showTeamWindow();
        QVERIFY(team->isVisible());
        QCOMPARE(activeWindow(), main.get());
    }

    void onTopThenOffIsTheNormalLevel()
    {
        auto team = registeredWindow(QString(), WindowIdentifiers::teamWindow);
        team->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        team->show();
        QWindow* handle = team->windowHandle();
        QVERIFY(handle);
        WindowFinder::setTeamWindowOnTop(true);
        QVERIFY(handle->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        WindowFinder::setTeamWindowOnTop(false);
        QVERIFY(!handle->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        // Changed through the native window: the same one, still shown, still a frameless tool.
        QCOMPARE(team->windowHandle(), handle);
        QVERIFY(team->isVisible());
        QVERIFY(handle->flags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(handle->flags() & Qt::WindowType_Mask, Qt::Tool);
    }

    void keepOnTopIsStoredAndApplied()
    {
        test::ScopedXdgHome home;
        SettingsStore store;
        QVERIFY(!isTeamWindowKeptOnTop(store));
        auto team = registeredWindow(QString(), WindowIdentifiers::teamWindow);
        setKeepTeamWindowOnTop(store, true);
        QCOMPARE(store.flag(QStringLiteral("keepTeamWindowOnTop")), std::optional<bool>(true));
        QVERIFY(isTeamWindowKeptOnTop(store));
        QVERIFY(team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        setKeepTeamWindowOnTop(store, false);
        QVERIFY(!isTeamWindowKeptOnTop(store));
        QVERIFY(!team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    }

    void settingsWindowIsMadeOnceAndRaised()
    {
        auto& registry = WindowRegistry::instance();
        registry.openSettings(); // no factory yet: nothing
        QCOMPARE(registry.settingsWindow(), nullptr);

        int made = 0;
        registry.setSettingsWindowFactory([&made] {
            ++made;
            auto* w = new QWidget;
            w->setWindowTitle(QStringLiteral("Pondra Settings"));
            return w;
        });
        registry.settingsAction()->trigger();
        QCOMPARE(made, 1);
        QWidget* settings = registry.settingsWindow();
        QVERIFY(settings && settings->isVisible());
        QTRY_COMPARE(activeWindow(), settings);
        QVERIFY(registry.windows().contains(settings));

        auto other = registeredWindow(QStringLiteral("Elsewhere"));
        other->show();
        other->activateWindow();
        QTRY_COMPARE(activeWindow(), other.get());
        settings->close();
        registry.openSettings();
        QCOMPARE(made, 1);
        QCOMPARE(registry.settingsWindow(), settings);
        QVERIFY(settings->isVisible());
        QTRY_COMPARE(activeWindow(), settings);
        settings->close();
    }

    void sharedActions()
    {
        auto& registry = WindowRegistry::instance();
        QCOMPARE(registry.settingsAction()->text(), QStringLiteral("Settings..."));
        QCOMPARE(registry.settingsAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
        QCOMPARE(registry.quitAction()->text(), QStringLiteral("Quit Pondra"));
        QCOMPARE(registry.quitAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        QCOMPARE(registry.settingsAction(), registry.settingsAction());

        // Quit ends the application's event loop.
        QTimer::singleShot(0, registry.quitAction(), &QAction::trigger);
        QTimer failsafe;
        failsafe.setSingleShot(true);
        bool timedOut = false;
        connect(&failsafe, &QTimer::timeout, this, [&timedOut] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        failsafe.start(5000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!timedOut);
    }

    void sharedShortcutsWorkInTheSettingsWindow()
    {
        // Typed where the user is, with no main window (whose menu carries them) open.
        auto& registry = WindowRegistry::instance();
        registry.setSettingsWindowFactory([] {
            auto* w = new QWidget;
            w->setWindowTitle(QStringLiteral("Pondra Settings"));
            return w;
        });
        registry.openSettings();
        QWidget* settings = registry.settingsWindow();
        QVERIFY(settings);
        QTRY_COMPARE(activeWindow(), settings);
        QSignalSpy opened(registry.settingsAction(), &QAction::triggered);
        QSignalSpy quit(registry.quitAction(), &QAction::triggered);
        QTest::keyClick(settings, Qt::Key_Comma, Qt::ControlModifier);
        QTest::keyClick(settings, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(quit.size(), 1);
        settings->close();
    }
};

// Focus and activation are the point here, so the windows are real X11
// windows on a private Xvfb (the offscreen platform activates every window it shows).
PONDRA_XVFB_VIEW_TEST_MAIN(TestWindowFinder)
#include "tst_windowfinder.moc"
