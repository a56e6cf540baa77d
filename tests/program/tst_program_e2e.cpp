// The program end to end: the real `pondra` started as a process on a private
// X display with a compositing manager, its own buses, folders and file
// camera, talking to the local team server, and watched only from outside.
#include "ProgramHarness.h"

#include <QFileInfo>
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

} // namespace

class TestProgramEndToEnd final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void runsWithANameAndQuitsCleanly();
    void teamWindowPlacedRestoredAndOnTop();
    void secondCopyBringsTheFirstForward();
    void copiesStartedTogether();
    void installedTreeFindsEverything();

private:
    Desktop m_desktop;
    TeamServerProcess m_server;
};

void TestProgramEndToEnd::initTestCase()
{
    QVERIFY(m_desktop.start());
    QVERIFY(m_server.start());
}

void TestProgramEndToEnd::runsWithANameAndQuitsCleanly()
{
    UserSession session;
    QVERIFY(session.start());
    session.joinTeam(m_server, QStringLiteral("Ana"), QStringLiteral("Blue"));
    PondraProcess pondra(m_desktop, session);
    QVERIFY(pondra.start());

    QVERIFY(pondra.waitForMainWindow());
    QVERIFY(pondra.waitForWindowWithRole(teamWindowRole));
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

void TestProgramEndToEnd::installedTreeFindsEverything()
{
    // Outside the build tree, so that nothing can be found there instead.
    QTemporaryDir prefix;
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

    // The installed program runs, finds its helper under lib/, and its windows carry the class the entry
    // names.
    UserSession session;
    QVERIFY(session.start());
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
    QTRY_VERIFY(
        pondra.errorOutput().contains(QLatin1String("MediaRemote helper found at: ") +
                                      prefix.filePath(QStringLiteral("lib/pondra/get-now-playing.pl"))));
    QCOMPARE(pondra.terminate(), std::optional<int>(0));
}

QTEST_GUILESS_MAIN(TestProgramEndToEnd)
#include "tst_program_e2e.moc"
