// The tray menu as a desktop panel sees it: over D-Bus, through a
// StatusNotifierWatcher with a registered host (our own fake, on a private
// session bus), the item's exported com.canonical.dbusmenu layout read and
// its items clicked through "Event", as panels do.
#include "ui/kit/WindowFinder.h"
#include "ui/tray/TrayIcon.h"

#include "AppRig.h"
#include "TestProcesses.h"
#include "TrayPanel.h"
#include "ViewTesting.h"
#include "XvfbServer.h"

#include <QMenu>

using namespace pondra;
using test::AppRig;

namespace {

/// The private session bus with the tray host on it, for the whole process: Qt
/// picks the tray's kind once, when the first icon is made.
test::PrivateBus* sessionBus = nullptr;

MenuBarIcon::Locator sourceIcons()
{
    return [](const QString& name) {
        return qEnvironmentVariable("PONDRA_SOURCE_DIR") + QStringLiteral("/resources/") + name;
    };
}

} // namespace

class TestTrayDBus final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void menuAsAPanelSeesIt()
    {
        AppRig rig;
        rig.build();
        auto team = test::registeredWindow(QString(), WindowIdentifiers::teamWindow);
        team->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        team->show();

        TrayIcon tray(*rig.app, sourceIcons());
        QVERIFY(tray.hasTrayHost());
        test::TrayPanel panel(sessionBus->connection());
        QTRY_VERIFY(panel.findItem());

        const QStringList windows{QStringLiteral("-"), QStringLiteral("Show Main Window Ctrl+1"),
                                  QStringLiteral("Show Team Window Ctrl+2"), QStringLiteral("-")};
        const QStringList tail{QStringLiteral("-"), QStringLiteral("Settings... Ctrl+,"), QStringLiteral("-"),
                               QStringLiteral("Quit Pondra Ctrl+Q")};
        const QStringList away =
            QStringList{QStringLiteral("Status: Away (disabled)"), QStringLiteral("I'm Pondra")} + windows +
            QStringList{QStringLiteral("Keep Team Window on Top [ ]")} + tail;
        QCOMPARE(panel.entries(), away);
        // The icon is named after its installed symbolic icon, which the panel colours itself.
        QCOMPARE(panel.iconName(), QStringLiteral("org.pondra.Pondra-away-symbolic"));

        // "I'm Pondra" from the panel starts a capture; once it ends the menu offers the present commands.
        QVERIFY(panel.click(QStringLiteral("I'm Pondra")));
        QTRY_VERIFY(rig.app->cameraCapture().isCapturing());
        QTest::ignoreMessage(QtInfoMsg, "Capture already in progress, skipping");
        rig.capture();
        QVERIFY(rig.app->cameraCapture().isPondraMode.get());
        const QStringList present = QStringList{QStringLiteral("Status: Pondra (disabled)"),
                                                QStringLiteral("Go Away"), QStringLiteral("Retake Photo")} +
                                    windows + QStringList{QStringLiteral("Keep Team Window on Top [ ]")} +
                                    tail;
        QTRY_COMPARE(panel.entries(), present);
        QTRY_COMPARE(panel.iconName(), QStringLiteral("org.pondra.Pondra-present-symbolic"));

        // The toggle stores the choice and floats the team window at once.
        QVERIFY(panel.click(QStringLiteral("Keep Team Window on Top")));
        QTRY_COMPARE(rig.store->flag(QLatin1String(keepTeamWindowOnTopKey)), std::optional<bool>(true));
        QVERIFY(team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QTRY_VERIFY(panel.entries().contains(QStringLiteral("Keep Team Window on Top [x]")));

        // Opening the menu applies nothing.
        WindowFinder::setTeamWindowOnTop(false);
        QVERIFY(panel.aboutToShow(0));
        QVERIFY(panel.event(0, QStringLiteral("opened")));
        QVERIFY(panel.event(0, QStringLiteral("closed")));
        QVERIFY(!team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

        QVERIFY(panel.click(QStringLiteral("Go Away")));
        QTRY_VERIFY(!rig.app->cameraCapture().isPondraMode.get());
        QTRY_VERIFY(panel.entries().contains(QStringLiteral("I'm Pondra")));
        QTRY_COMPARE(panel.iconName(), QStringLiteral("org.pondra.Pondra-away-symbolic"));

        // A left click on the icon pops the same menu.
        QVERIFY(!tray.menu().menu()->isVisible());
        QVERIFY(panel.activate());
        QTRY_VERIFY(tray.menu().menu()->isVisible());
        tray.menu().menu()->hide();

        // The icon goes out at every size the panel may want.
        const QList<QSize> sizes = panel.iconSizes();
        for (int side : MenuBarIcon::sizes)
            QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
    }
};

int main(int argc, char** argv)
{
    // The bus, the watcher and the X server come first: the tray's kind is
    // chosen when the first icon is made, from what is on the session bus then.
    test::XvfbServer xvfb;
    test::PrivateBus bus;
    test::startTrayDesktop(xvfb, bus);
    sessionBus = &bus;
    test::TrayHost host;
    if (!host.start(bus))
        qFatal("the StatusNotifierWatcher did not start");

    QApplication app(argc, argv);
    test::fixViewLook();
    TestTrayDBus tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_traydbus.moc"
