// The program end to end: the real `pondra` started as a process on a private
// X display with a compositing manager, its own buses, folders and file
// camera, talking to the local team server, and watched only from outside.
#include "ProgramHarness.h"
#include "TestEnvironment.h"
#include "platform/core/Resources.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace pondra;
using namespace pondra::test;

namespace {

const QString teamWindowRole = QStringLiteral("PondraTeamWindow");
const QString alertTitle = QStringLiteral("Pondra is already running");

QJsonObject bodyOf(const QJsonObject& event)
{
    return QJsonDocument::fromJson(event.value(QStringLiteral("body")).toString().toUtf8()).object();
}

bool isUpdateFrom(const QJsonObject& event, const QString& name)
{
    return event.value(QStringLiteral("target")).toString() == QLatin1String("/pondra/update") &&
           bodyOf(event).value(QStringLiteral("name")).toString() == name;
}

/// The record `name` sends with the present flag `present`.
TeamServerProcess::Predicate presenceFrom(const QString& name, bool present)
{
    return [name, present](const QJsonObject& e) {
        return isUpdateFrom(e, name) && bodyOf(e).value(QStringLiteral("isPondra")).toBool() == present;
    };
}

// What the windows draw, as the user sees it: the palette's colours.
const QColor yellow(0xff, 0xcc, 0x00);
const QColor green(0x34, 0xc7, 0x59);
const QColor orange(0xff, 0x95, 0x00);
const QColor blue(0x00, 0x7a, 0xff);

/// `colour` at `opacity` over the opaque `under`.
QColor over(const QColor& under, const QColor& colour, qreal opacity)
{
    const auto mix = [opacity](int a, int b) { return qRound(a * (1 - opacity) + b * opacity); };
    return QColor(mix(under.red(), colour.red()), mix(under.green(), colour.green()),
                  mix(under.blue(), colour.blue()));
}

/// Where an image shows a colour, give or take rounding and a little blending.
struct Patch
{
    int pixels = 0;
    QRect box;
};

Patch patchOf(const QImage& image, const QColor& colour, int tolerance = 4)
{
    Patch patch;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (isNear(QColor::fromRgb(line[x]), colour, tolerance)) {
                ++patch.pixels;
                patch.box |= QRect(x, y, 1, 1);
            }
        }
    }
    return patch;
}

/// A teammate's photo: one flat colour, so that its pixels can be found on screen.
QString flatPhoto(const QColor& colour)
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(colour);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    image.save(&png, "PNG");
    return QString::fromLatin1(png.data().toBase64());
}

QJsonObject teammate(const QString& id, const QString& name, const QString& team, const QString& photo)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("team"), team},
            {QStringLiteral("isPondra"), true},
            {QStringLiteral("isIdle"), false},
            {QStringLiteral("idleState"), QStringLiteral("active")},
            {QStringLiteral("idleSeconds"), 4},
            {QStringLiteral("photo"), photo},
            {QStringLiteral("status"), QStringLiteral("Reviewing")},
            {QStringLiteral("lastUpdate"), QStringLiteral("2026-01-05T12:00:00Z")}};
}

/// The main window's status pill, read from a picture of the window: how many
/// of its pixels show `colour` at the pill's 20 % over the window background.
int pillPixels(const QImage& mainWindow, const QColor& colour)
{
    const QColor background = mainWindow.pixelColor(3, mainWindow.height() - 3);
    // The pill sits above the photo, in the window's upper quarter.
    const QImage top = mainWindow.copy(0, 0, mainWindow.width(), mainWindow.height() / 4);
    return patchOf(top, over(background, colour, 0.2), 2).pixels;
}

const QString noTrayLine = QStringLiteral("No system tray available; running without the tray icon");

/// The largest of the icons a window hands the window manager and task bars
/// (_NET_WM_ICON: width, height, then that many ARGB pixels, per icon); null
/// when it has none.
QImage windowIcon(const Desktop& desktop, const QString& windowId)
{
    const QString xprop =
        desktop
            .run(QStringLiteral("xprop"),
                 {QStringLiteral("-id"), windowId, QStringLiteral("-notype"), QStringLiteral("-f"),
                  QStringLiteral("_NET_WM_ICON"), QStringLiteral("32c"), QStringLiteral("_NET_WM_ICON")})
            .value_or(QString());
    const qsizetype equals = xprop.indexOf(QLatin1Char('='));
    if (equals < 0)
        return {};
    QList<quint32> values;
    for (const QString& value : xprop.mid(equals + 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        values << value.trimmed().toUInt();
    QImage largest;
    for (qsizetype at = 0; at + 2 <= values.size();) {
        const int width = int(values[at]);
        const int height = int(values[at + 1]);
        at += 2;
        if (width <= 0 || height <= 0 || at + qsizetype(width) * height > values.size())
            return {};
        QImage icon(width, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                icon.setPixel(x, y, values[at + y * width + x]);
        at += qsizetype(width) * height;
        if (icon.width() > largest.width())
            largest = icon;
    }
    return largest;
}

/// Whether `icon` shows the program's icon: a teal tile with rounded
/// corners, a white speech bubble and a pink heart in it.
bool isProgramIcon(const QImage& icon)
{
    if (icon.width() < 32)
        return false;
    const auto at = [&icon](qreal x, qreal y) {
        return icon.pixelColor(int(x * icon.width()), int(y * icon.height()));
    };
    const QColor heart = at(0.5, 0.47);
    const QColor bubble = at(0.5, 0.23);
    const QColor tile = at(0.86, 0.86);
    return at(0, 0).alpha() == 0 && isNear(heart, QColor(0xef, 0x5b, 0x7b), 24) &&
           isNear(bubble, Qt::white, 24) && tile.alpha() == 255 && tile.green() > tile.red() + 60 &&
           tile.blue() > tile.red() + 60;
}

} // namespace

class TestProgramEndToEnd final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void runsWithANameAndQuitsCleanly();
    void firstStartWithoutANameOrATray();
    void comesBackSeesTheTeamAndGoesAwayOnLock();
    void ringBetweenTwoCopies();
    void teamWindowPlacedRestoredAndOnTop();
    void secondCopyBringsTheFirstForward();
    void copiesStartedTogether();
    void startDuringTheFirstCopysQuit();
    void installedTreeFindsEverything();

private:
    /// "Quit Pondra" by its shortcut, typed in `window`: the program ends with
    /// 0 and without complaints about what it tore down.
    void quitByShortcutIn(PondraProcess& pondra, const WindowInfo& window);

    Desktop m_desktop;
    TeamServerProcess m_server;
};

void TestProgramEndToEnd::initTestCase()
{
    QVERIFY(m_desktop.start());
    QVERIFY(m_server.start());
    // The teams the tests' users are in, so that the main window's team picker can show them.
    QVERIFY(m_server.command(
        QStringLiteral("setTeams"),
        {{QStringLiteral("teams"),
          QJsonArray{QStringLiteral("Default"), QStringLiteral("Blue"), QStringLiteral("Green"),
                     QStringLiteral("Red"), QStringLiteral("Teal"), QStringLiteral("Orange")}}}));
}

void TestProgramEndToEnd::runsWithANameAndQuitsCleanly()
{
    UserSession session;
    QVERIFY(session.start());
    session.joinTeam(m_server, QStringLiteral("Ana"), QStringLiteral("Blue"));
    PondraProcess pondra(m_desktop, session);
    QVERIFY(pondra.start());

    const auto mainWindow = pondra.waitForMainWindow();
    QVERIFY(mainWindow);
    const auto team = pondra.waitForWindowWithRole(teamWindowRole);
    QVERIFY(team);
    // Its windows carry its icon, from the build tree.
    QVERIFY(isProgramIcon(windowIcon(m_desktop, mainWindow->id)));
    QVERIFY(isProgramIcon(windowIcon(m_desktop, team->id)));
    const auto record = m_server.waitForEvent(
        QStringLiteral("http"), [](const QJsonObject& e) { return isUpdateFrom(e, QStringLiteral("Ana")); },
        20'000);
    QVERIFY(record);
    const QJsonObject body = bodyOf(*record);
    QCOMPARE(body.value(QStringLiteral("team")).toString(), QStringLiteral("Blue"));
    // The program always starts away.
    QCOMPARE(body.value(QStringLiteral("isPondra")).toBool(), false);

    QCOMPARE(pondra.terminate(), std::optional<int>(0));
    QVERIFY2(pondra.teardownWarnings().isEmpty(),
             qPrintable(pondra.teardownWarnings().join(QLatin1Char('\n'))));
    // What it stored while running is on disk, and the next start is not taken for a second copy.
    QCOMPARE(session.setting(QStringLiteral("userId")),
             std::optional<QString>(body.value(QStringLiteral("id")).toString()));
    QVERIFY(session.setting(QStringLiteral("PondraTeamWindow")));
    // Ctrl+C and a closed terminal end it the same way.
    for (const int signal : {SIGINT, SIGHUP}) {
        QVERIFY(pondra.start());
        QVERIFY(pondra.waitForMainWindow());
        QCOMPARE(pondra.terminate(signal), std::optional<int>(0));
    }
}

void TestProgramEndToEnd::quitByShortcutIn(PondraProcess& pondra, const WindowInfo& window)
{
    QVERIFY(m_desktop.focus(window.id));
    QVERIFY(m_desktop.key(QStringLiteral("ctrl+q")));
    QCOMPARE(pondra.waitForExit(), std::optional<int>(0));
    QVERIFY2(pondra.teardownWarnings().isEmpty(),
             qPrintable(pondra.teardownWarnings().join(QLatin1Char('\n'))));
}

void TestProgramEndToEnd::firstStartWithoutANameOrATray()
{
    // A first start: nothing set but the team server, and a desktop without a tray.
    UserSession session;
    QVERIFY(session.start());
    session.setSetting(QStringLiteral("serverBaseURL"), m_server.baseUrl());
    PondraProcess pondra(m_desktop, session);
    QVERIFY(pondra.start());
    QVERIFY(pondra.waitForMainWindow());
    const auto settings = pondra.waitForWindowNamed(QStringLiteral("Pondra Settings"));
    QVERIFY(settings);
    QVERIFY(pondra.waitForWindowWithRole(teamWindowRole));
    // Without a tray the program says so once, and runs on.
    QCOMPARE(pondra.errorOutput().count(noTrayLine), 1);
    QVERIFY(pondra.isRunning());

    // The user types a name and quits from the settings window: the name is kept.
    QVERIFY(m_desktop.focus(settings->id));
    QVERIFY(m_desktop.type(QStringLiteral("Zoe")));
    QTRY_COMPARE(session.setting(QStringLiteral("userName")), std::optional<QString>(QStringLiteral("Zoe")));
    quitByShortcutIn(pondra, *settings);
}

void TestProgramEndToEnd::comesBackSeesTheTeamAndGoesAwayOnLock()
{
    const QString team = QStringLiteral("Teal");
    UserSession session;
    QVERIFY(session.start());
    QVERIFY(session.startTrayHost());
    session.joinTeam(m_server, QStringLiteral("Eve"), team);
    PondraProcess pondra(m_desktop, session);
    QVERIFY(pondra.start());
    const auto mainWindow = pondra.waitForMainWindow();
    QVERIFY(mainWindow);
    QVERIFY(
        m_server.waitForEvent(QStringLiteral("http"), presenceFrom(QStringLiteral("Eve"), false), 20'000));

    // Back through the tray menu, as a panel clicks it: the camera takes a photo and the server holds it.
    TrayPanel panel = session.trayPanel();
    QTRY_VERIFY_WITH_TIMEOUT(panel.findItem(), 10'000);
    QVERIFY(!pondra.errorOutput().contains(noTrayLine));
    QVERIFY(panel.click(QStringLiteral("I'm Pondra")));
    const auto present =
        m_server.waitForEvent(QStringLiteral("http"), presenceFrom(QStringLiteral("Eve"), true), 20'000);
    QVERIFY(present);
    const QImage photo = QImage::fromData(
        QByteArray::fromBase64(bodyOf(*present).value(QStringLiteral("photo")).toString().toLatin1()),
        "JPEG");
    QVERIFY(!photo.isNull());
    QTRY_VERIFY(panel.entries().contains(QStringLiteral("Status: Pondra (disabled)")));

    // The server pushes a teammate: the team window grows by a row, which shows the teammate's photo.
    const auto teamWindowHeight = [&] {
        const auto window = pondra.waitForWindowWithRole(teamWindowRole);
        return window ? window->geometry.height() : -1;
    };
    // Settled on the user's own row first.
    int before = -1;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const int height = teamWindowHeight();
            return std::exchange(before, height) == height && height > 0;
        }(),
        10'000);
    const QColor teal(0x20, 0xb0, 0xa0);
    QVERIFY(m_server.command(
        QStringLiteral("putRecord"),
        {{QStringLiteral("record"),
          teammate(QStringLiteral("zz-teammate"), QStringLiteral("Max"), team, flatPhoto(teal))}}));
    QTRY_COMPARE(teamWindowHeight(), before + 60);
    const auto window = pondra.waitForWindowWithRole(teamWindowRole);
    QVERIFY(window);
    // The new row is the last: its photo 56 px square, 16 px in from the left and above the bottom.
    const QRect newPhoto(16, window->geometry.height() - 16 - 56, 56, 56);
    Patch shown;
    QTRY_VERIFY((shown = patchOf(m_desktop.grab(window->geometry), teal)).pixels > 56 * 56 * 3 / 4);
    QVERIFY2(newPhoto.contains(shown.box), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                          .arg(shown.box.x())
                                                          .arg(shown.box.y())
                                                          .arg(shown.box.width())
                                                          .arg(shown.box.height())));

    // Locking the screen sends the user away within 2 s.
    m_server.clearEvents();
    QElapsedTimer sinceLock;
    sinceLock.start();
    QVERIFY(session.lockScreen());
    QVERIFY(m_server.waitForEvent(QStringLiteral("http"), presenceFrom(QStringLiteral("Eve"), false), 2'000));
    QVERIFY2(sinceLock.elapsed() <= 2'000, qPrintable(QString::number(sinceLock.elapsed())));

    // "Quit Pondra" by its shortcut in the main window.
    quitByShortcutIn(pondra, *mainWindow);
}

void TestProgramEndToEnd::ringBetweenTwoCopies()
{
    const QString team = QStringLiteral("Orange");
    const QString ringer = QStringLiteral("Fay");
    const QString rung = QStringLiteral("Gus");
    UserSession fays;
    UserSession guss;
    QVERIFY(fays.start() && guss.start());
    fays.joinTeam(m_server, ringer, team);
    guss.joinTeam(m_server, rung, team);
    PondraProcess fay(m_desktop, fays);
    PondraProcess gus(m_desktop, guss);
    QVERIFY(fay.start() && gus.start());
    auto fayMain = fay.waitForMainWindow();
    auto gusMain = gus.waitForMainWindow();
    auto fayTeam = fay.waitForWindowWithRole(teamWindowRole);
    const auto gusTeam = gus.waitForWindowWithRole(teamWindowRole);
    QVERIFY(fayMain && gusMain && fayTeam && gusTeam);
    QVERIFY(m_server.waitForEvent(QStringLiteral("http"), presenceFrom(ringer, false), 20'000));
    QVERIFY(m_server.waitForEvent(QStringLiteral("http"), presenceFrom(rung, false), 20'000));

    // Side by side, as the gallery picture shows them: Gus's windows on the left, Fay's in the middle.
    QVERIFY(m_desktop.move(gusMain->id, QPoint(220, 10)));
    QVERIFY(m_desktop.move(fayTeam->id, QPoint(560, 10)));
    QVERIFY(m_desktop.move(fayMain->id, QPoint(770, 10)));
    QTRY_VERIFY((fayMain = fay.waitForMainWindow()) && fayMain->geometry.topLeft() == QPoint(770, 10));
    QTRY_VERIFY((fayTeam = fay.waitForWindowWithRole(teamWindowRole)) &&
                fayTeam->geometry.topLeft() == QPoint(560, 10));
    QTRY_VERIFY((gusMain = gus.waitForMainWindow()) && gusMain->geometry.topLeft() == QPoint(220, 10));

    // Fay comes back with "I'm Pondra" in her main window, so her ring carries her photo.
    Patch button;
    QTRY_VERIFY((button = patchOf(m_desktop.grab(fayMain->geometry), blue)).pixels > 200);
    QVERIFY(m_desktop.click(fayMain->geometry.topLeft() + button.box.center()));
    QVERIFY(m_server.waitForEvent(QStringLiteral("http"), presenceFrom(ringer, true), 20'000));
    QTRY_VERIFY(pillPixels(m_desktop.grab(fayMain->geometry), green) > 300);

    // Both are in Fay's team window; over Gus's row it offers "Ring".
    QTRY_VERIFY((fayTeam = fay.waitForWindowWithRole(teamWindowRole)) && fayTeam->geometry.height() > 150);
    std::optional<QPoint> ringButton;
    for (int y = 20; y < fayTeam->geometry.height() - 10 && !ringButton; y += 20) {
        QVERIFY(m_desktop.pointerTo(fayTeam->geometry.topLeft() + QPoint(44, y)));
        TeamServerProcess::pumpUntil(
            [&] {
                const Patch ring = patchOf(m_desktop.grab(fayTeam->geometry), orange);
                if (ring.pixels > 300)
                    ringButton = fayTeam->geometry.topLeft() + ring.box.center();
                return ringButton.has_value();
            },
            500);
    }
    QVERIFY(ringButton);
    QVERIFY(m_desktop.click(*ringButton));
    const auto ring = m_server.waitForEvent(QStringLiteral("http"), [](const QJsonObject& e) {
        return e.value(QStringLiteral("target")).toString() == QLatin1String("/pondra/ring");
    });
    QVERIFY(ring);
    QCOMPARE(bodyOf(*ring).value(QStringLiteral("to")).toString(), rung);
    QVERIFY(!bodyOf(*ring).value(QStringLiteral("photo")).toString().isEmpty());

    // On Gus's screen: the glow at the edge and the bubble beside the pointer, which follows it.
    QVERIFY(gus.waitForWindowWithRole(QStringLiteral("PondraGlowWindow"), 5'000));
    QVERIFY(gus.waitForWindowWithRole(QStringLiteral("PondraCursorRing"), 5'000));
    QVERIFY(m_desktop.pointerTo(QPoint(300, 600)));
    const auto bubble = gus.waitForWindow(
        [](const WindowInfo& w) {
            return w.role == QLatin1String("PondraCursorRing") && w.geometry.topLeft() == QPoint(318, 566);
        },
        3'000);
    QVERIFY(bubble);
    const auto gusCard = gus.waitForWindowWithRole(teamWindowRole);
    QVERIFY(gusCard);

    // Every window up at once, in one picture of the whole screen, which the checks below read.
    const QImage screen = m_desktop.grabScreen();
    QVERIFY(!screen.isNull());
    QVERIFY(screen.save(galleryFolder() + QStringLiteral("/program-desktop.png")));
    // Fay's pill asks in yellow ("Checking with Gus...").
    QVERIFY(pillPixels(screen.copy(fayMain->geometry), yellow) > 300);
    // The glow's yellow at the screen's right edge, the dark bubble, and "Sure!" on Gus's card.
    const QColor edge = screen.pixelColor(Desktop::screenSize.width() - 1, 500);
    QVERIFY2(edge.red() - edge.blue() > 60 && edge.green() - edge.blue() > 40, qPrintable(edge.name()));
    const Patch dark = patchOf(screen.copy(bubble->geometry), QColor(0x28, 0x28, 0x28), 40);
    QVERIFY2(dark.pixels > 4000, qPrintable(QString::number(dark.pixels)));
    const Patch sure = patchOf(screen.copy(gusCard->geometry), green);
    QVERIFY2(sure.pixels > 300, qPrintable(QString::number(sure.pixels)));

    // "Sure!" reaches Fay: the server passes the answer on and her pill returns; Gus's ring display goes.
    QVERIFY(m_desktop.click(gusCard->geometry.topLeft() + sure.box.center()));
    const auto answer = m_server.waitForEvent(QStringLiteral("http"), [](const QJsonObject& e) {
        return e.value(QStringLiteral("target")).toString() == QLatin1String("/pondra/ring-response");
    });
    QVERIFY(answer);
    QCOMPARE(bodyOf(*answer).value(QStringLiteral("from")).toString(), rung);
    QCOMPARE(bodyOf(*answer).value(QStringLiteral("to")).toString(), ringer);
    QCOMPARE(bodyOf(*answer).value(QStringLiteral("accepted")).toBool(), true);
    QTRY_VERIFY(pillPixels(m_desktop.grab(fayMain->geometry), yellow) < 20 &&
                pillPixels(m_desktop.grab(fayMain->geometry), green) > 300);
    QTRY_VERIFY(!gus.waitForWindowWithRole(QStringLiteral("PondraGlowWindow"), 0));
    QTRY_VERIFY(!gus.waitForWindowWithRole(QStringLiteral("PondraCursorRing"), 0));
    // Gus's team window shows the team again: another height, and no card button (a green idle dot may
    // remain).
    const auto showsTheTeam = [&] {
        const auto team = gus.waitForWindowWithRole(teamWindowRole);
        return team && team->geometry.height() != gusCard->geometry.height() &&
               patchOf(m_desktop.grab(team->geometry), green).pixels < 150;
    };
    QTRY_VERIFY(showsTheTeam());

    QCOMPARE(fay.terminate(), std::optional<int>(0));
    QCOMPARE(gus.terminate(), std::optional<int>(0));
}

void TestProgramEndToEnd::teamWindowPlacedRestoredAndOnTop()
{
    UserSession session;
    QVERIFY(session.start());
    session.joinTeam(m_server, QStringLiteral("Bo"), QStringLiteral("Blue"));
    PondraProcess pondra(m_desktop, session);

    // First start: 10/10 inside the screen, 196 wide, at the normal level.
    QVERIFY(pondra.start());
    auto team = pondra.waitForWindowWithRole(teamWindowRole);
    QVERIFY(team);
    QCOMPARE(team->geometry.topLeft(), QPoint(10, 10));
    QCOMPARE(team->geometry.width(), 196);
    QVERIFY(!team->states.contains(QStringLiteral("_NET_WM_STATE_ABOVE")));

    // Moved, then the program restarted with the window kept on top: back where it was left, floating.
    QVERIFY(m_desktop.move(team->id, QPoint(420, 300)));
    QVERIFY(TeamServerProcess::pumpUntil([&] {
        return session.setting(QStringLiteral("PondraTeamWindow")).value_or(QString()).startsWith("420,300,");
    }));
    QCOMPARE(pondra.terminate(), std::optional<int>(0));
    session.setSetting(QStringLiteral("keepTeamWindowOnTop"), QStringLiteral("true"));
    QVERIFY(pondra.start());
    team = pondra.waitForWindowWithRole(teamWindowRole);
    QVERIFY(team);
    QCOMPARE(team->geometry.topLeft(), QPoint(420, 300));
    QVERIFY(team->states.contains(QStringLiteral("_NET_WM_STATE_ABOVE")));

    // A corner that is on no screen any more: the default place.
    QCOMPARE(pondra.terminate(), std::optional<int>(0));
    session.setSetting(QStringLiteral("PondraTeamWindow"), QStringLiteral("1500,1100,196,300"));
    QVERIFY(pondra.start());
    team = pondra.waitForWindowWithRole(teamWindowRole);
    QVERIFY(team);
    QCOMPARE(team->geometry.topLeft(), QPoint(10, 10));
    QCOMPARE(pondra.terminate(), std::optional<int>(0));
}

void TestProgramEndToEnd::secondCopyBringsTheFirstForward()
{
    UserSession session;
    QVERIFY(session.start());
    session.joinTeam(m_server, QStringLiteral("Cy"), QStringLiteral("Green"));
    PondraProcess first(m_desktop, session);
    QVERIFY(first.start());
    const auto mainWindow = first.waitForMainWindow();
    QVERIFY(mainWindow);
    const auto team = first.waitForWindowWithRole(teamWindowRole);
    QVERIFY(team);
    QVERIFY(m_server.waitForEvent(QStringLiteral("ws-message"), [](const QJsonObject& e) {
        return e.value(QStringLiteral("text")).toString().contains(QLatin1String("Green"));
    }));
    QVERIFY(m_desktop.raise(team->id));
    QTRY_VERIFY(m_desktop.isAbove(team->id, mainWindow->id));
    const qsizetype connections = m_server.events(QStringLiteral("ws-handshake")).size();
    // A copy that builds its state asks for the team list as it connects.
    const auto teamLists = [this] {
        const QList<QJsonObject> requests = m_server.events(QStringLiteral("http"));
        return std::count_if(requests.cbegin(), requests.cend(), [](const QJsonObject& e) {
            return e.value(QStringLiteral("target")) == QLatin1String("/pondra/teams");
        });
    };
    const auto teamListsBefore = teamLists();

    PondraProcess second(m_desktop, session);
    QVERIFY(second.start());
    const auto alert = second.waitForWindowNamed(alertTitle);
    QVERIFY(alert);
    QTRY_VERIFY_WITH_TIMEOUT(m_desktop.isAbove(mainWindow->id, team->id), 10'000);
    QTRY_VERIFY(second.errorOutput().contains(
        QLatin1String("Another instance of Pondra is already running. Quitting.")));
    QVERIFY(!second.waitForMainWindow(500));

    // Dismissed: the second copy ends with 0, having built nothing and reached no server.
    QVERIFY(m_desktop.focus(alert->id));
    QVERIFY(m_desktop.key(QStringLiteral("Return")));
    QCOMPARE(second.waitForExit(), std::optional<int>(0));
    QCOMPARE(m_server.events(QStringLiteral("ws-handshake")).size(), connections);
    QCOMPARE(teamLists(), teamListsBefore);
    QVERIFY(first.isRunning());
    QCOMPARE(first.terminate(), std::optional<int>(0));
}

void TestProgramEndToEnd::copiesStartedTogether()
{
    for (int round = 0; round < 2; ++round) {
        UserSession session;
        QVERIFY(session.start());
        session.joinTeam(m_server, QStringLiteral("Di"), QStringLiteral("Red"));
        PondraProcess one(m_desktop, session);
        PondraProcess other(m_desktop, session);
        QVERIFY(one.start());
        QVERIFY(other.start());

        // Exactly one shows its main window, the other the alert.
        const auto isMainOrAlert = [](const WindowInfo& w) {
            return (w.name == QLatin1String("Pondra") && w.role.isEmpty()) || w.name == alertTitle;
        };
        const auto a = one.waitForWindow(isMainOrAlert);
        const auto b = other.waitForWindow(isMainOrAlert);
        QVERIFY(a && b);
        QVERIFY2((a->name == alertTitle) != (b->name == alertTitle),
                 qPrintable(a->name + QLatin1String(" / ") + b->name));
        PondraProcess& loser = a->name == alertTitle ? one : other;
        PondraProcess& winner = a->name == alertTitle ? other : one;
        const WindowInfo alert = a->name == alertTitle ? *a : *b;

        QVERIFY(m_desktop.focus(alert.id));
        QVERIFY(m_desktop.key(QStringLiteral("Return")));
        QCOMPARE(loser.waitForExit(), std::optional<int>(0));
        QVERIFY(winner.isRunning());
        QCOMPARE(winner.terminate(), std::optional<int>(0));
    }
}

void TestProgramEndToEnd::startDuringTheFirstCopysQuit()
{
    UserSession session;
    QVERIFY(session.start());
    session.joinTeam(m_server, QStringLiteral("Ed"), QStringLiteral("Teal"));
    // The first copy, as far as the lock goes (tests/program/InstanceHolder.cpp),
    // has quit and is still tearing down: it holds the lock for a while yet.
    ManagedProcess first;
    QVERIFY(first.start(QStringLiteral(PONDRA_INSTANCE_HOLDER_PATH), {session.settingsFile()}));
    QCOMPARE(first.readLine(), QStringLiteral("claimed"));
    first.process()->write("quit\n");
    QCOMPARE(first.readLine(), QStringLiteral("quitting"));

    // The new copy neither says that another one runs nor starts beside it:
    // it waits for the lock, and runs once the first copy is gone.
    PondraProcess second(m_desktop, session);
    QVERIFY(second.start());
    QVERIFY(!second.waitForWindow([](const WindowInfo&) { return true; }, 1'500));
    QVERIFY(second.isRunning());
    first.process()->write("exit\n");
    QVERIFY(first.process()->waitForFinished(10'000));
    QVERIFY(second.waitForMainWindow());
    QVERIFY(!second.waitForWindowNamed(alertTitle, 500));
    QVERIFY(!second.errorOutput().contains(QLatin1String("Another instance of Pondra is already running")));
    QVERIFY(!first.process()->readAllStandardOutput().contains("asked"));
    QCOMPARE(second.terminate(), std::optional<int>(0));
}

void TestProgramEndToEnd::installedTreeFindsEverything()
{
    // Outside the build tree, so that nothing can be found there instead: in
    // a home's ~/.local, with a folder "resources" above the program at every
    // level, each with a helper script of its own.
    QTemporaryDir base;
    const QDir prefix(base.filePath(QStringLiteral("home/.local")));
    for (const QString& above : {prefix.filePath(QStringLiteral("bin")), prefix.path(),
                                 base.filePath(QStringLiteral("home")), base.path()}) {
        QVERIFY(QDir().mkpath(above + QStringLiteral("/resources")));
        QFile decoy(above + QStringLiteral("/resources/get-now-playing.pl"));
        QVERIFY(decoy.open(QIODevice::WriteOnly));
        decoy.write("print \"{}\\n\";\n");
    }
    QProcess install;
    install.start(qEnvironmentVariable("PONDRA_CMAKE"),
                  {QStringLiteral("--install"), qEnvironmentVariable("PONDRA_BINARY_DIR"),
                   QStringLiteral("--prefix"), prefix.path()});
    QVERIFY(install.waitForFinished(60'000));
    QCOMPARE(install.exitCode(), 0);
    for (const char* file :
         {"bin/pondra", "lib/pondra/libMelodex.so", "lib/pondra/get-now-playing.pl",
          "share/pondra/message-circle-heart.svg", "share/pondra/message-circle-dashed.svg",
          "share/pondra/ring.wav", "share/icons/hicolor/scalable/apps/org.pondra.Pondra.svg",
          "share/applications/org.pondra.Pondra.desktop"})
        QVERIFY2(QFileInfo::exists(prefix.filePath(QLatin1String(file))), file);
    QSettings desktopEntry(prefix.filePath(QStringLiteral("share/applications/org.pondra.Pondra.desktop")),
                           QSettings::IniFormat);
    desktopEntry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(desktopEntry.value(QStringLiteral("Name")).toString(), QStringLiteral("Pondra"));
    QCOMPARE(desktopEntry.value(QStringLiteral("Exec")).toString(), QStringLiteral("pondra"));
    QCOMPARE(desktopEntry.value(QStringLiteral("Icon")).toString(), QStringLiteral("org.pondra.Pondra"));
    QCOMPARE(desktopEntry.value(QStringLiteral("StartupWMClass")).toString(), QStringLiteral("Pondra"));

    QVERIFY(!QFileInfo::exists(prefix.filePath(QStringLiteral("bin/") + buildTreeMarkerName())));
    // The installed program runs, finds its helper under lib/ and nowhere else, and its windows carry the
    // class and the icon the entry names.
    UserSession session;
    QVERIFY(session.start());
    session.setSetting(QStringLiteral("serverBaseURL"), m_server.baseUrl());
    PondraProcess pondra(m_desktop, session);
    pondra.setProgram(prefix.filePath(QStringLiteral("bin/pondra")));
    QVERIFY(pondra.start());
    const auto mainWindow = pondra.waitForMainWindow();
    QVERIFY(mainWindow);
    QVERIFY(
        m_desktop
            .run(QStringLiteral("xprop"), {QStringLiteral("-id"), mainWindow->id, QStringLiteral("WM_CLASS")})
            .value_or(QString())
            .contains(QLatin1String("\"pondra\", \"Pondra\"")));
    QVERIFY(isProgramIcon(windowIcon(m_desktop, mainWindow->id)));
    QTRY_VERIFY(
        pondra.errorOutput().contains(QLatin1String("MediaRemote helper found at: ") +
                                      prefix.filePath(QStringLiteral("lib/pondra/get-now-playing.pl"))));
    QCOMPARE(pondra.terminate(), std::optional<int>(0));
}

QTEST_GUILESS_MAIN(TestProgramEndToEnd)
#include "tst_program_e2e.moc"
