// The team window as the X server, a window manager and the pointer meet it,
// on a private Xvfb: its window states, read by a client of our own, and the
// pencil's tooltip under the real pointer; and, with no compositing manager,
// a window wholly covered by another, which the X server tells so.
#include "ui/kit/FilledButton.h"
#include "ui/kit/FrameTicker.h"
#include "ui/kit/WindowFinder.h"
#include "ui/kit/WindowSight.h"
#include "ui/team/MarqueeText.h"
#include "ui/team/MiniUserRow.h"
#include "ui/team/MiniWindow.h"

#include "AppRig.h"
#include "TestProcesses.h"
#include "ViewTesting.h"
#include "X11Probe.h"

#include "platform/compositing/FakeCompositingQuery.h"

#include <QBackingStore>
#include <QFile>
#include <QJsonArray>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QToolTip>

using namespace pondra;

namespace {
const QString skipTaskbar = QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR");
const QString skipPager = QStringLiteral("_NET_WM_STATE_SKIP_PAGER");
const QString above = QStringLiteral("_NET_WM_STATE_ABOVE");

QString display()
{
    return qEnvironmentVariable("DISPLAY");
}

bool xdotool(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

bool movePointer(QPoint to)
{
    return xdotool({QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y())});
}

/// The state on fakes with the user's own record in the team, and the team
/// window on the real screens, opaque (no compositor here).
struct TeamWindowRig
{
    test::AppRig rig;
    std::unique_ptr<MiniWindow> window;

    TeamWindowRig()
    {
        rig.build();
        window = std::make_unique<MiniWindow>(*rig.app, std::make_shared<FakeCompositingQuery>(false));
        window->move(40, 60);
        RemoteUser ana;
        ana.id = QStringLiteral("A");
        ana.name = QStringLiteral("Ana");
        ana.idleState = QStringLiteral("active");
        const QJsonObject users{{QStringLiteral("type"), QStringLiteral("users")},
                                {QStringLiteral("data"), QJsonArray{ana.toJson()}}};
        rig.sockets->latest()->deliverText(
            QString::fromUtf8(QJsonDocument(users).toJson(QJsonDocument::Compact)));
    }
    /// The native window now: Qt makes it anew when the stays-on-top hint
    /// changed while it was hidden, and the widget's own id is then stale.
    quint32 id() const { return quint32(window->windowHandle()->winId()); }
};

/// A plain main window, titled as ours is.
std::unique_ptr<QWidget> mainWindow()
{
    auto main = test::registeredWindow(QStringLiteral("Pondra"));
    main->setGeometry(400, 300, 300, 200);
    return main;
}
} // namespace

class TestTeamWindowX11 final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keptOutOfTheTaskbarFromTheFirstShow()
    {
        test::X11Probe probe(display());
        QVERIFY(probe.isConnected());
        TeamWindowRig team;
        // Kept on top from the launch: Qt's own state goes in beside ours.
        team.window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        team.window->show();
        QTRY_VERIFY(probe.facts(team.id()).viewable);
        QStringList states = probe.facts(team.id()).states;
        QVERIFY2(states.contains(skipTaskbar) && states.contains(skipPager) && states.contains(above),
                 qPrintable(states.join(u' ')));

        // Shown again after its level changed while hidden (Qt then makes
        // the native window anew): still out of the taskbar.
        team.window->hide();
        QTRY_VERIFY(!probe.facts(team.id()).viewable);
        setWindowStaysOnTop(*team.window, false);
        team.window->show();
        QTRY_VERIFY(probe.facts(team.id()).viewable);
        const auto skipsBoth = [&] {
            states = probe.facts(team.id()).states;
            return states.contains(skipTaskbar) && states.contains(skipPager);
        };
        QTRY_VERIFY2(skipsBoth(), qPrintable(states.join(u' ')));
    }

    void aWindowManagerKeepsItOutOfTheTaskbar()
    {
        test::X11Probe probe(display());
        // Windows mapped while openbox is still starting can be lost to it: it
        // says when it is done through a command of its own, after which it
        // takes on every window.
        const QTemporaryDir folder;
        const QString started = folder.filePath(QStringLiteral("started"));
        test::ManagedProcess openbox;
        QVERIFY(openbox.start(QStringLiteral("openbox"),
                              {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                               QStringLiteral("touch ") + started}));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started) && probe.hasWindowManager(), 20'000);

        TeamWindowRig team;
        const auto main = mainWindow();
        main->show();
        team.window->show();
        const quint32 mainId = quint32(main->winId());
        const auto managed = [&](quint32 window) { return probe.managedWindows().contains(window); };
        const auto statesOf = [&](quint32 window) { return probe.facts(window).states; };
        QTRY_VERIFY(managed(team.id()) && managed(mainId));
        QTRY_VERIFY(statesOf(team.id()).contains(skipTaskbar));
        QVERIFY(statesOf(team.id()).contains(skipPager));
        // The main window stays in the taskbar.
        QVERIFY(!statesOf(mainId).contains(skipTaskbar));

        // The window manager rewrites the states when the level changes; ours stay.
        setWindowStaysOnTop(*team.window, true);
        QTRY_VERIFY(statesOf(team.id()).contains(above));
        QVERIFY(statesOf(team.id()).contains(skipTaskbar) && statesOf(team.id()).contains(skipPager));
        setWindowStaysOnTop(*team.window, false);
        QTRY_VERIFY(!statesOf(team.id()).contains(above));
        QVERIFY(statesOf(team.id()).contains(skipTaskbar) && statesOf(team.id()).contains(skipPager));

        // Withdrawn, the window loses its states; taken on again, it has them anew.
        team.window->hide();
        QTRY_VERIFY(!managed(team.id()));
        WindowFinder::showTeamWindow();
        QTRY_VERIFY(managed(team.id()));
        QTRY_VERIFY(statesOf(team.id()).contains(skipTaskbar));
        QVERIFY(statesOf(team.id()).contains(skipPager));
    }

    void pencilTooltipShowsThoughTheWindowIsNeverActive()
    {
        TeamWindowRig team;
        const auto main = mainWindow();
        main->show();
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main.get()));
        team.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(team.window.get()));

        MiniUserRow* own = team.window->rows().value(0);
        QVERIFY(own && own->model().isSelf);
        QVERIFY(movePointer(own->mapToGlobal(QPoint(100, 20))));
        QTRY_VERIFY(own->isHovering());
        FilledButton* pencil = nullptr;
        for (FilledButton* b : own->findChildren<FilledButton*>())
            if (b->isVisible() && b->text().isEmpty())
                pencil = b;
        QVERIFY(pencil);
        QVERIFY(movePointer(pencil->mapToGlobal(pencil->rect().center())));
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("Update status"));
        QVERIFY(!team.window->isActiveWindow());
        QVERIFY(main->isActiveWindow());

        QVERIFY(movePointer(QPoint(1200, 1000)));
        QTRY_VERIFY(!own->isHovering());
    }

    void scrollingStatusesGoStraightToTheScreenAsTheyAreDrawn_data()
    {
        QTest::addColumn<bool>("compositing");
        QTest::newRow("translucent, with a compositor") << true;
        QTest::newRow("opaque, without") << false;
    }
    void scrollingStatusesGoStraightToTheScreenAsTheyAreDrawn()
    {
        QFETCH(bool, compositing);
        test::AppRig rig;
        rig.build();
        MiniWindow window(*rig.app, std::make_shared<FakeCompositingQuery>(compositing));
        window.move(100, 100);
        QList<RemoteUser> team;
        for (int i = 0; i < 3; ++i) {
            RemoteUser u;
            u.id = QStringLiteral("M%1").arg(i);
            u.name = QStringLiteral("Member %1").arg(i);
            u.team = QStringLiteral("Blue");
            u.idleState = QStringLiteral("active");
            u.status =
                QStringLiteral("Working on item %1 of the plan").arg(i) + QString(i * 4, QLatin1Char('w'));
            team << u;
        }
        window.showTeam(team);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        QList<MarqueeText*> texts;
        test::PaintCounter windowPaints(&window);
        std::vector<std::unique_ptr<test::PaintCounter>> textPaints;
        for (MiniUserRow* row : window.rows()) {
            texts << row->findChild<MarqueeText*>();
            QVERIFY(texts.last() && texts.last()->isScrolling());
            textPaints.push_back(std::make_unique<test::PaintCounter>(texts.last()));
        }

        // The steps fall a millisecond after each whole pixel: from just
        // after one, every 40 ms.
        const int start = texts[0]->currentOffset();
        while (texts[0]->currentOffset() == start)
            rig.scheduler.advance(milliseconds(1));
        rig.scheduler.advance(milliseconds(1));
        int stepPaints = 0;
        for (int step = 0; step < 30; ++step) {
            for (const auto& paints : textPaints)
                paints->count = 0;
            windowPaints.count = 0;
            rig.scheduler.advance(milliseconds(40));
            for (const auto& paints : textPaints)
                stepPaints += paints->count;
            stepPaints += windowPaints.count;
            // What the window's backing store holds after the step, beside
            // the window drawn by a painter, each text's glyphs where it stands.
            const auto* store = static_cast<const QImage*>(window.backingStore()->paintDevice());
            QImage drawn(store->size(), store->format());
            drawn.fill(Qt::transparent);
            {
                // (A window cut to its shape renders from its shape's corner.)
                QPainter painter(&drawn);
                const QRegion shape = window.mask();
                window.render(&painter, shape.isEmpty() ? QPoint() : shape.boundingRect().topLeft(),
                              QRegion(), QWidget::DrawChildren);
            }
            for (MarqueeText* text : texts) {
                const QRect area(text->mapTo(&window, QPoint()), text->size());
                QCOMPARE(store->copy(area), drawn.copy(area));
            }
        }
        // 25 px/s, each step painted straight into the backing store: no
        // paint events for the texts, nor for what lies beneath them.
        QCOMPARE(start - texts[0]->currentOffset(), 31);
        QCOMPARE(stepPaints, 0);
    }

    void scrollingStopsWhileTheWindowIsCovered()
    {
        test::AppRig rig;
        rig.build();
        MiniWindow window(*rig.app, std::make_shared<FakeCompositingQuery>(false));
        window.move(100, 100);
        RemoteUser bo;
        bo.id = QStringLiteral("B");
        bo.name = QStringLiteral("Bo");
        bo.team = QStringLiteral("Blue");
        bo.idleState = QStringLiteral("active");
        bo.status = QStringLiteral("A long status that scrolls by");
        window.showTeam({bo});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        FrameTicker& ticker = window.frameTicker();
        WindowSight* sight = WindowSight::of(&window);
        QVERIFY(ticker.isRunning());

        // A window over all of it: nothing moves where nobody can see it.
        QWidget cover(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        cover.setGeometry(window.geometry().adjusted(-20, -20, 20, 20));
        cover.show();
        QTRY_VERIFY(!sight->isSeen());
        QVERIFY(!ticker.isRunning());

        // Uncovered, it goes on from where the clock stands.
        cover.hide();
        QTRY_VERIFY(sight->isSeen());
        QVERIFY(ticker.isRunning());

        // Covered, then kept on top from the tray menu: a window manager
        // brings it to the front, and with one or not it counts as seen until
        // the X server says otherwise. Its status moves again.
        cover.show();
        QTRY_VERIFY(!sight->isSeen());
        const auto* text = window.rows().value(0)->findChild<MarqueeText*>();
        QVERIFY(text && text->isScrolling());
        setKeepTeamWindowOnTop(rig.app->settingsStore(), true);
        QVERIFY(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(sight->isSeen());
        QVERIFY(ticker.isRunning());
        const QImage before = test::inBackingStore(*text);
        rig.scheduler.advance(milliseconds(100));
        QVERIFY(test::inBackingStore(*text) != before);

        // Back at the normal level and covered again: the change of level
        // took none of the X server's reports away, and the status rests.
        setKeepTeamWindowOnTop(rig.app->settingsStore(), false);
        QVERIFY(ticker.isRunning());
        cover.hide();
        QTest::qWait(100);
        cover.show();
        QTRY_VERIFY(!sight->isSeen());
        QVERIFY(!ticker.isRunning());
        cover.hide();
        QTRY_VERIFY(sight->isSeen());
        QVERIFY(ticker.isRunning());
    }
};

PONDRA_XVFB_VIEW_TEST_MAIN(TestTeamWindowX11)
#include "tst_teamwindow_x11.moc"
