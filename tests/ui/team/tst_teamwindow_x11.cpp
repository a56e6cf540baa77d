// The team window on a private Xvfb without a compositing manager, where a
// window wholly covered by another is told so by the X server.
#include "ui/kit/FrameTicker.h"
#include "ui/kit/WindowSight.h"
#include "ui/team/MiniUserRow.h"
#include "ui/team/MiniWindow.h"

#include "AppRig.h"
#include "ViewTesting.h"

#include "platform/compositing/FakeCompositingQuery.h"

#include <QJsonArray>

using namespace pondra;

class TestTeamWindowX11 final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
        QVERIFY(ticker.isRunning());

        // A window over all of it: nothing moves where nobody can see it.
        QWidget cover(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        cover.setGeometry(window.geometry().adjusted(-20, -20, 20, 20));
        cover.show();
        QTRY_VERIFY(!WindowSight::of(&window)->isSeen());
        QVERIFY(!ticker.isRunning());

        // Uncovered, it goes on from where the clock stands.
        cover.hide();
        QTRY_VERIFY(WindowSight::of(&window)->isSeen());
        QVERIFY(ticker.isRunning());
    }
};

PONDRA_XVFB_VIEW_TEST_MAIN(TestTeamWindowX11)
#include "tst_teamwindow_x11.moc"
