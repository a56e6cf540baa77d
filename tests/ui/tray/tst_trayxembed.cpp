// The tray icon on a panel that takes pixels only: tint2's XEmbed tray, under
// openbox, on a private Xvfb, with no StatusNotifierWatcher on the session
// bus. The symbol is drawn in the one colour of the palette that shows on the
// panel, whether the panel is light or dark.
#include "ui/tray/TrayIcon.h"

#include "AppRig.h"
#include "TestProcesses.h"
#include "TrayPanel.h"
#include "ViewTesting.h"
#include "X11Probe.h"
#include "XvfbServer.h"

#include <QFile>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

using namespace pondra;

namespace {

MenuBarIcon::Locator sourceIcons()
{
    return [](const QString& name) {
        return qEnvironmentVariable("PONDRA_SOURCE_DIR") + QStringLiteral("/resources/") + name;
    };
}

/// A panel of one colour that holds nothing but the tray.
bool writePanelConfig(const QString& path, const QColor& colour)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray hex = colour.name().toLatin1();
    file.write("rounded = 0\nborder_width = 0\n"
               "background_color = " +
               hex + " 100\nborder_color = " + hex +
               " 100\n"
               "panel_items = S\npanel_size = 200 40\npanel_margin = 0 0\npanel_padding = 0 0 0\n"
               "panel_background_id = 1\npanel_position = top left horizontal\npanel_layer = normal\n"
               "wm_menu = 0\npanel_dock = 0\nstrut_policy = none\ndisable_transparency = 1\n"
               "systray_padding = 0 0 0\nsystray_background_id = 1\nsystray_icon_size = 22\n"
               "systray_monitor = 1\n");
    return file.error() == QFile::NoError;
}

/// The window Qt draws an XEmbed tray icon in.
QWidget* embeddedIcon()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->inherits("QSystemTrayIconSys"))
            return window;
    return nullptr;
}

} // namespace

class TestTrayXEmbed final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // tint2 waits for a window manager; openbox says when it has started.
        const QString started = m_folder.filePath(QStringLiteral("started"));
        QVERIFY(m_openbox.start(QStringLiteral("openbox"),
                                {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                                 QStringLiteral("touch ") + started}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 20'000);
    }

    void symbolShowsOnThePanel_data()
    {
        QTest::addColumn<QColor>("panel");
        QTest::addColumn<QPalette::ColorRole>("ink");
        // The light desktop palette's window text is dark, its window colour light.
        QTest::newRow("light panel") << QColor(0xf0, 0xf0, 0xf0) << QPalette::WindowText;
        QTest::newRow("dark panel") << QColor(0x20, 0x20, 0x20) << QPalette::Window;
    }
    void symbolShowsOnThePanel()
    {
        QFETCH(QColor, panel);
        QFETCH(QPalette::ColorRole, ink);
        const QString config = m_folder.filePath(QStringLiteral("tint2rc"));
        QVERIFY(writePanelConfig(config, panel));
        test::ManagedProcess tint2;
        QVERIFY(tint2.start(QStringLiteral("tint2"), {QStringLiteral("-c"), config}));
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20'000);

        test::AppRig rig;
        rig.build();
        TrayIcon tray(*rig.app, sourceIcons());
        QVERIFY(tray.hasTrayHost());
        QTRY_VERIFY_WITH_TIMEOUT(tray.icon().panelBackground().has_value(), 20'000);
        QVERIFY2(test::isNear(*tray.icon().panelBackground(), panel, 8),
                 qPrintable(tray.icon().panelBackground()->name()));

        // What the screen shows where the icon sits: the panel, and the symbol
        // in the one colour that stands out on it.
        QWidget* icon = embeddedIcon();
        QVERIFY(icon);
        const test::X11Probe probe(qEnvironmentVariable("DISPLAY"));
        const QColor expected = QGuiApplication::palette().color(ink);
        // Every pixel is the panel, the ink, or a blend of the two at the
        // symbol's edges; some are the ink itself.
        const auto solidInk = [&](QString* seen) {
            const QImage shown = probe.grab(probe.facts(quint32(icon->winId())).geometry);
            int solid = 0;
            for (int y = 0; y < shown.height(); ++y) {
                for (int x = 0; x < shown.width(); ++x) {
                    const QColor c = shown.pixelColor(x, y);
                    const double share = (c.greenF() - panel.greenF()) / (expected.greenF() - panel.greenF());
                    const QColor blend =
                        QColor::fromRgbF(panel.redF() + share * (expected.redF() - panel.redF()),
                                         panel.greenF() + share * (expected.greenF() - panel.greenF()),
                                         panel.blueF() + share * (expected.blueF() - panel.blueF()));
                    if (share < -0.05 || share > 1.05 || !test::isNear(c, blend, 6)) {
                        *seen = QStringLiteral("%1 at %2,%3").arg(c.name()).arg(x).arg(y);
                        return -1;
                    }
                    solid += share > 0.95;
                }
            }
            *seen = QStringLiteral("%1 solid of %2x%3").arg(solid).arg(shown.width()).arg(shown.height());
            return solid;
        };
        QString seen;
        QTRY_VERIFY2_WITH_TIMEOUT(solidInk(&seen) > 10, qPrintable(seen), 10'000);
    }

private:
    QTemporaryDir m_folder;
    test::ManagedProcess m_openbox;
};

int main(int argc, char** argv)
{
    // A session bus with no tray host on it, so the tray is the panel's XEmbed one.
    test::XvfbServer xvfb;
    test::PrivateBus bus;
    test::startTrayDesktop(xvfb, bus);

    QApplication app(argc, argv);
    test::fixViewLook();
    TestTrayXEmbed tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_trayxembed.moc"
