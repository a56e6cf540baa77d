#include "ui/kit/WindowFinder.h"
#include "ui/tray/MenuBarIcon.h"
#include "ui/tray/StatusBarMenu.h"
#include "ui/tray/TrayIcon.h"

#include "AppRig.h"
#include "ViewTesting.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>

#include <memory>

using namespace pondra;
using test::AppRig;
using test::registeredWindow;

namespace {

/// One visible entry as a user reads it: the text, "(disabled)", the check
/// box of a checkable entry, the shortcut; "-" for a separator.
QStringList visibleEntries(const QMenu& menu)
{
    QStringList out;
    for (const QAction* action : menu.actions()) {
        if (!action->isVisible())
            continue;
        if (action->isSeparator()) {
            out << QStringLiteral("-");
            continue;
        }
        QString entry = action->text();
        if (!action->isEnabled())
            entry += QStringLiteral(" (disabled)");
        if (action->isCheckable())
            entry += action->isChecked() ? QStringLiteral(" [x]") : QStringLiteral(" [ ]");
        if (!action->shortcut().isEmpty())
            entry += QLatin1Char(' ') + action->shortcut().toString(QKeySequence::PortableText);
        out << entry;
    }
    return out;
}

/// A folder holding some of the tray's drawings, and the lookup into it.
struct IconFolder
{
    QTemporaryDir dir;

    void put(const QString& name)
    {
        const QString source =
            qEnvironmentVariable("PONDRA_SOURCE_DIR") + QStringLiteral("/resources/") + name;
        QFile::remove(dir.filePath(name));
        QVERIFY(QFile::copy(source, dir.filePath(name)));
    }
    void putGarbage(const QString& name)
    {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("\x89PNG not a drawing at all");
    }
    void remove(const QString& name) { QVERIFY(QFile::remove(dir.filePath(name))); }
    MenuBarIcon::Locator locator() const
    {
        const QString path = dir.path();
        return [path](const QString& name) {
            const QString file = QDir(path).filePath(name);
            return QFile::exists(file) ? file : QString();
        };
    }
};

const QString heartFile = QStringLiteral("message-circle-heart.svg");
const QString dashedFile = QStringLiteral("message-circle-dashed.svg");

QImage pixels(const QIcon& icon, int side = 22)
{
    return icon.pixmap(side).toImage().convertToFormat(QImage::Format_ARGB32);
}

/// Which drawing an icon shows, told by two pixels: the fallback bubble is
/// light and opaque in its middle; the heart is cut out of a solid bubble, so
/// the bubble is opaque between the heart and its top, where the dashed
/// bubble is empty.
QString drawingOf(const QIcon& icon)
{
    const QImage image = pixels(icon);
    const QColor middle = image.pixelColor(11, 11);
    const QColor aboveHeart = image.pixelColor(11, 6);
    if (middle.alpha() > 240 && middle.lightness() > 220)
        return QStringLiteral("fallback");
    if (middle.alpha() < 20 && aboveHeart.alpha() > 200)
        return QStringLiteral("heart");
    if (middle.alpha() < 20 && aboveHeart.alpha() < 20)
        return QStringLiteral("dashed");
    return QStringLiteral("unknown");
}

/// Every message logged while it lives.
class MessageRecorder final
{
public:
    MessageRecorder()
    {
        s_messages.clear();
        m_previous = qInstallMessageHandler(&record);
    }
    ~MessageRecorder() { qInstallMessageHandler(m_previous); }
    const QStringList& messages() const { return s_messages; }

private:
    static void record(QtMsgType, const QMessageLogContext&, const QString& text) { s_messages << text; }
    static inline QStringList s_messages;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

class TestTrayMenu final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void entriesByModeAndName_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("named");
        QTest::addColumn<QString>("storedOnTop");
        QTest::addColumn<QStringList>("expected");
        const QStringList windows{QStringLiteral("-"), QStringLiteral("Show Main Window Ctrl+1"),
                                  QStringLiteral("Show Team Window Ctrl+2"), QStringLiteral("-")};
        const QStringList tail{QStringLiteral("-"), QStringLiteral("Settings... Ctrl+,"), QStringLiteral("-"),
                               QStringLiteral("Quit Pondra Ctrl+Q")};
        const QStringList present{QStringLiteral("Status: Pondra (disabled)"), QStringLiteral("Go Away"),
                                  QStringLiteral("Retake Photo")};
        const QString off = QStringLiteral("Keep Team Window on Top [ ]");
        const QString on = QStringLiteral("Keep Team Window on Top [x]");
        QTest::newRow("present") << true << true << QString() << present + windows + QStringList{off} + tail;
        QTest::newRow("present without a name")
            << true << false << QString() << present + windows + QStringList{off} + tail;
        QTest::newRow("away") << false << true << QString()
                              << QStringList{QStringLiteral("Status: Away (disabled)"),
                                             QStringLiteral("I'm Pondra")} +
                                     windows + QStringList{off} + tail;
        QTest::newRow("away without a name") << false << false << QString()
                                             << QStringList{QStringLiteral("Status: Away (disabled)"),
                                                            QStringLiteral("I'm Pondra (disabled)")} +
                                                    windows + QStringList{off} + tail;
        QTest::newRow("kept on top") << true << true << QStringLiteral("true")
                                     << present + windows + QStringList{on} + tail;
        QTest::newRow("stored as 1") << true << true << QStringLiteral("1")
                                     << present + windows + QStringList{on} + tail;
        QTest::newRow("unreadable choice reads off")
            << true << true << QStringLiteral("maybe") << present + windows + QStringList{off} + tail;
    }
    void entriesByModeAndName()
    {
        QFETCH(bool, present);
        QFETCH(bool, named);
        QFETCH(QString, storedOnTop);
        QFETCH(QStringList, expected);
        AppRig rig;
        if (!named)
            rig.store->remove(QStringLiteral("userName"));
        if (!storedOnTop.isEmpty())
            rig.store->setText(QLatin1String(keepTeamWindowOnTopKey), storedOnTop);
        rig.build();
        if (present)
            rig.capture();
        StatusBarMenu menu(*rig.app);
        QCOMPARE(visibleEntries(*menu.menu()), expected);
        // Building the menu stores nothing.
        QCOMPARE(rig.store->text(QLatin1String(keepTeamWindowOnTopKey)),
                 storedOnTop.isEmpty() ? std::nullopt : std::optional<QString>(storedOnTop));
    }

    void followsTheStateWithoutRebuilding()
    {
        AppRig rig;
        rig.store->remove(QStringLiteral("userName"));
        rig.build();
        StatusBarMenu menu(*rig.app);
        const QList<QAction*> actions = menu.menu()->actions();
        QVERIFY(!menu.imPondraAction()->isEnabled());
        rig.app->setUserName(QStringLiteral("Bo"));
        QVERIFY(menu.imPondraAction()->isEnabled());
        rig.app->setUserName(QString());
        QVERIFY(!menu.imPondraAction()->isEnabled());

        rig.app->setUserName(QStringLiteral("Bo"));
        rig.capture();
        QCOMPARE(menu.statusAction()->text(), QStringLiteral("Status: Pondra"));
        QVERIFY(menu.goAwayAction()->isVisible() && menu.retakePhotoAction()->isVisible());
        QVERIFY(!menu.imPondraAction()->isVisible());
        menu.goAwayAction()->trigger();
        QVERIFY(!rig.app->cameraCapture().isPondraMode.get());
        QCOMPARE(menu.statusAction()->text(), QStringLiteral("Status: Away"));
        QVERIFY(!menu.goAwayAction()->isVisible() && !menu.retakePhotoAction()->isVisible());
        QVERIFY(menu.imPondraAction()->isVisible());
        QCOMPARE(menu.menu()->actions(), actions);
    }

    void sharesTheMainWindowsActions()
    {
        AppRig rig;
        rig.build();
        StatusBarMenu menu(*rig.app);
        QVERIFY(menu.menu()->actions().contains(WindowRegistry::instance().settingsAction()));
        QVERIFY(menu.menu()->actions().contains(WindowRegistry::instance().quitAction()));
    }

    /// A capture from the menu is not manual: a run without a usable photo
    /// raises no notice, and the user is present afterwards.
    void capturesAreNotManual_data()
    {
        QTest::addColumn<bool>("retake");
        QTest::newRow("I'm Pondra") << false;
        QTest::newRow("Retake Photo") << true;
    }
    void capturesAreNotManual()
    {
        QFETCH(bool, retake);
        AppRig rig;
        rig.build();
        if (retake)
            rig.capture();
        StatusBarMenu menu(*rig.app);
        (retake ? menu.retakePhotoAction() : menu.imPondraAction())->trigger();
        QVERIFY(rig.app->cameraCapture().isCapturing());
        // No frame ever comes: the run ends without a photo.
        rig.scheduler.advance(std::chrono::seconds(12));
        QTRY_VERIFY(!rig.app->cameraCapture().isCapturing());
        QVERIFY(!rig.app->cameraCapture().photoSkipped.get());
        QVERIFY(rig.app->cameraCapture().isPondraMode.get());
    }

    void showsTheWindows()
    {
        AppRig rig;
        rig.build();
        StatusBarMenu menu(*rig.app);
        auto main = registeredWindow(QStringLiteral("Pondra"));
        auto team = registeredWindow(QString(), WindowIdentifiers::teamWindow);
        menu.showMainWindowAction()->trigger();
        QVERIFY(main->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), main.get());
        menu.showTeamWindowAction()->trigger();
        QVERIFY(team->isVisible());
        main->close();
        menu.showMainWindowAction()->trigger();
        QVERIFY(main->isVisible());
    }

    void keepOnTopIsWrittenOnlyWhenTheUserChangesIt()
    {
        AppRig rig;
        rig.build();
        StatusBarMenu menu(*rig.app);
        // No team window yet: the choice is still stored.
        menu.keepOnTopAction()->trigger();
        QCOMPARE(rig.store->flag(QLatin1String(keepTeamWindowOnTopKey)), std::optional<bool>(true));
        QVERIFY(menu.keepOnTopAction()->isChecked());

        auto team = registeredWindow(QString(), WindowIdentifiers::teamWindow);
        team->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        team->show();
        // Opening the menu applies nothing, though the stored choice is on.
        menu.menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(menu.menu()->isVisible());
        menu.menu()->hide();
        QVERIFY(!team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

        menu.keepOnTopAction()->trigger();
        QCOMPARE(rig.store->flag(QLatin1String(keepTeamWindowOnTopKey)), std::optional<bool>(false));
        QVERIFY(!team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        menu.keepOnTopAction()->trigger();
        QCOMPARE(rig.store->flag(QLatin1String(keepTeamWindowOnTopKey)), std::optional<bool>(true));
        QVERIFY(team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(team->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    }

    void leftClickOpensTheSameMenu()
    {
        AppRig rig;
        rig.build();
        IconFolder icons;
        // The offscreen platform has no tray at all.
        QTest::ignoreMessage(QtInfoMsg, "No system tray available; running without the tray icon");
        TrayIcon tray(*rig.app, icons.locator());
        QVERIFY(!tray.hasTrayHost());
        QCOMPARE(tray.systemTrayIcon().contextMenu(), tray.menu().menu());
        Q_EMIT tray.systemTrayIcon().activated(QSystemTrayIcon::Context);
        QVERIFY(!tray.menu().menu()->isVisible());
        Q_EMIT tray.systemTrayIcon().activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(tray.menu().menu()->isVisible());
        tray.menu().menu()->hide();
    }

    /// Which drawing each mode shows, for the files that are there.
    void iconFallsBackPerMode_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("garbage");
        QTest::addColumn<QString>("present");
        QTest::addColumn<QString>("away");
        QTest::newRow("both files") << QStringList{heartFile, dashedFile} << QStringList() << "heart"
                                    << "dashed";
        QTest::newRow("only the heart") << QStringList{heartFile} << QStringList() << "heart"
                                        << "fallback";
        QTest::newRow("only the dashed") << QStringList{dashedFile} << QStringList() << "fallback"
                                         << "dashed";
        QTest::newRow("no files") << QStringList() << QStringList() << "fallback"
                                  << "fallback";
        QTest::newRow("unreadable heart") << QStringList{dashedFile} << QStringList{heartFile} << "fallback"
                                          << "dashed";
    }
    void iconFallsBackPerMode()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, garbage);
        QFETCH(QString, present);
        QFETCH(QString, away);
        IconFolder folder;
        for (const QString& name : files)
            folder.put(name);
        for (const QString& name : garbage)
            folder.putGarbage(name);
        MessageRecorder recorder;
        const QIcon presentIcon = MenuBarIcon::load(true, folder.locator());
        const QIcon awayIcon = MenuBarIcon::load(false, folder.locator());
        QCOMPARE(drawingOf(presentIcon), present);
        QCOMPARE(drawingOf(awayIcon), away);
        // Falling back is silent.
        QCOMPARE(recorder.messages(), QStringList());
        // The same drawing is the same pixels; the two modes differ wherever a file is there.
        QCOMPARE(pixels(presentIcon) == pixels(awayIcon), present == away);
        for (int side : MenuBarIcon::sizes) {
            QCOMPARE(presentIcon.pixmap(side).size(), QSize(side, side));
            QVERIFY(presentIcon.availableSizes().contains(QSize(side, side)));
        }
    }

    /// The tray's icon follows the mode, and the file is read again each time.
    void trayIconFollowsTheMode()
    {
        AppRig rig;
        rig.build();
        IconFolder folder;
        folder.put(heartFile);
        folder.put(dashedFile);
        QTest::ignoreMessage(QtInfoMsg, "No system tray available; running without the tray icon");
        TrayIcon tray(*rig.app, folder.locator());
        QCOMPARE(drawingOf(tray.systemTrayIcon().icon()), QStringLiteral("dashed"));
        rig.capture();
        QCOMPARE(drawingOf(tray.systemTrayIcon().icon()), QStringLiteral("heart"));
        folder.remove(heartFile);
        rig.app->cameraCapture().resetPondra();
        QCOMPARE(drawingOf(tray.systemTrayIcon().icon()), QStringLiteral("dashed"));
        rig.capture();
        QCOMPARE(drawingOf(tray.systemTrayIcon().icon()), QStringLiteral("fallback"));
        folder.put(heartFile);
        rig.capture();
        QCOMPARE(drawingOf(tray.systemTrayIcon().icon()), QStringLiteral("heart"));
    }

    /// The drawings are symbols: named after their installed symbolic icons,
    /// and their pixels, for hosts that take pixels only (the XEmbed tray),
    /// hold one colour, the window text of the palette the icon is drawn under.
    void symbolsAreOneColour_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("dark");
        QTest::newRow("present, light desktop") << true << false;
        QTest::newRow("away, light desktop") << false << false;
        QTest::newRow("present, dark desktop") << true << true;
        QTest::newRow("away, dark desktop") << false << true;
    }
    void symbolsAreOneColour()
    {
        QFETCH(bool, present);
        QFETCH(bool, dark);
        IconFolder folder;
        folder.put(heartFile);
        folder.put(dashedFile);
        const QIcon icon = MenuBarIcon::load(present, folder.locator());
        QCOMPARE(icon.name(), MenuBarIcon::symbolName(present));
        std::optional<test::ScopedApplicationPalette> palette;
        if (dark)
            palette.emplace(test::darkPalette());
        const QColor ink = QGuiApplication::palette().color(QPalette::WindowText);
        for (int side : MenuBarIcon::sizes) {
            const QImage image = pixels(icon, side);
            int solid = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    if (c.alpha() < 64)
                        continue;
                    solid += c.alpha() > 250;
                    QVERIFY2(test::isNear(c, ink, 3),
                             qPrintable(
                                 QStringLiteral("%1 px at %2,%3: %4").arg(side).arg(x).arg(y).arg(c.name())));
                }
            }
            QVERIFY2(solid > 0, qPrintable(QString::number(side)));
        }
    }

    /// Where the panel around the icon is known, the symbol takes whichever of
    /// the palette's window text and window colour stands out on it.
    void inkStandsOutOnThePanel_data()
    {
        QTest::addColumn<bool>("darkDesktop");
        QTest::addColumn<std::optional<QColor>>("panel");
        QTest::addColumn<QPalette::ColorRole>("ink");
        const QColor dark(0x20, 0x20, 0x20);
        const QColor light(0xf0, 0xf0, 0xf0);
        QTest::newRow("light desktop, panel unknown")
            << false << std::optional<QColor>() << QPalette::WindowText;
        QTest::newRow("light desktop, light panel")
            << false << std::optional<QColor>(light) << QPalette::WindowText;
        QTest::newRow("light desktop, dark panel")
            << false << std::optional<QColor>(dark) << QPalette::Window;
        QTest::newRow("dark desktop, dark panel")
            << true << std::optional<QColor>(dark) << QPalette::WindowText;
        QTest::newRow("dark desktop, light panel")
            << true << std::optional<QColor>(light) << QPalette::Window;
        QTest::newRow("light desktop, mid-grey panel")
            << false << std::optional<QColor>(QColor(0x60, 0x60, 0x60)) << QPalette::Window;
    }
    void inkStandsOutOnThePanel()
    {
        QFETCH(bool, darkDesktop);
        QFETCH(std::optional<QColor>, panel);
        QFETCH(QPalette::ColorRole, ink);
        const QPalette palette = darkDesktop ? test::darkPalette() : QApplication::style()->standardPalette();
        QCOMPARE(MenuBarIcon::ink(palette, panel), palette.color(ink));
    }

    /// The three drawings at every size on a light and a dark panel (the
    /// symbols in the desktop's window text, as the XEmbed tray draws them and
    /// as a panel colours them), and the menu in both modes, in the gallery folder.
    void gallery()
    {
        IconFolder folder;
        folder.put(heartFile);
        folder.put(dashedFile);
        const QList<QIcon> icons{MenuBarIcon::load(true, folder.locator()),
                                 MenuBarIcon::load(false, folder.locator()), MenuBarIcon::fallback()};
        const int cell = 56;
        QImage sheet(int(std::size(MenuBarIcon::sizes)) * cell, 2 * int(icons.size()) * cell,
                     QImage::Format_ARGB32_Premultiplied);
        QPainter p(&sheet);
        for (int panel = 0; panel < 2; ++panel) {
            std::optional<test::ScopedApplicationPalette> palette;
            if (panel == 1)
                palette.emplace(test::darkPalette());
            const QRect band(0, panel * int(icons.size()) * cell, sheet.width(), int(icons.size()) * cell);
            p.fillRect(band, panel == 0 ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x20, 0x21, 0x24));
            for (int row = 0; row < icons.size(); ++row) {
                for (int i = 0; i < int(std::size(MenuBarIcon::sizes)); ++i) {
                    const int side = MenuBarIcon::sizes[i];
                    const QPoint topLeft(i * cell + (cell - side) / 2,
                                         band.top() + row * cell + (cell - side) / 2);
                    p.drawPixmap(topLeft, icons[row].pixmap(side));
                }
            }
        }
        p.end();
        QVERIFY(sheet.save(test::galleryFolder() + QStringLiteral("/tray-icons.png")));

        AppRig rig;
        rig.build();
        StatusBarMenu menu(*rig.app);
        for (const bool present : {false, true}) {
            if (present)
                rig.capture();
            menu.menu()->popup(QPoint(0, 0));
            QTRY_VERIFY(menu.menu()->isVisible());
            const QImage image = menu.menu()->grab().toImage();
            menu.menu()->hide();
            QVERIFY(image.save(test::galleryFolder() + (present ? QStringLiteral("/tray-menu-present.png")
                                                                : QStringLiteral("/tray-menu-away.png"))));
        }
    }
};

PONDRA_VIEW_TEST_MAIN(TestTrayMenu)
#include "tst_traymenu.moc"
