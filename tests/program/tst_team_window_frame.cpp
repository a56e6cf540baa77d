// Where the team window goes at launch and how its frame is remembered, on
// virtual time with made-up screens.
#include "program/TeamWindowFrame.h"

#include "TestEnvironment.h"

#include <QtTest>

using namespace pondra;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ScreenAreas)

namespace {
const QString frameKey = QStringLiteral("PondraTeamWindow");

ScreenAreas twoScreens()
{
    // A primary screen with a top panel, and a second one to its right.
    return {QRect(0, 32, 1920, 1048), {QRect(0, 32, 1920, 1048), QRect(1920, 0, 1280, 1024)}};
}
} // namespace

class TestTeamWindowFrame final : public QObject
{
    Q_OBJECT

private:
    struct Rig
    {
        test::ScopedXdgHome home;
        SettingsStore store;
        VirtualScheduler scheduler;
        QWidget window{nullptr, Qt::FramelessWindowHint};
        std::unique_ptr<TeamWindowFrame> frame;

        explicit Rig(ScreenAreas screens = twoScreens())
        {
            window.resize(196, 280);
            frame =
                std::make_unique<TeamWindowFrame>(window, store, scheduler, [screens] { return screens; });
        }
        QString stored() const { return store.text(frameKey).value_or(QString()); }
    };

private Q_SLOTS:
    void placedAtLaunch_data();
    void placedAtLaunch();
    void onTopOnlyWhenAskedAtLaunch();
    void frameStoredHalfASecondAfterTheLastMove();
    void frameStoredWhenHiddenAndAtTheEnd();
};

void TestTeamWindowFrame::placedAtLaunch_data()
{
    QTest::addColumn<ScreenAreas>("screens");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QPoint>("topLeft");

    QTest::newRow("nothing stored: 10/10 inside the primary screen's area")
        << twoScreens() << QString() << QPoint(10, 42);
    QTest::newRow("no screen at all") << ScreenAreas{} << QString() << QPoint(0, 0);
    QTest::newRow("stored corner on the second screen")
        << twoScreens() << QStringLiteral("2000,100,196,300") << QPoint(2000, 100);
    QTest::newRow("stored corner under the top panel")
        << twoScreens() << QStringLiteral("400,10,196,300") << QPoint(10, 42);
    QTest::newRow("stored corner on a screen that is gone")
        << twoScreens() << QStringLiteral("3300,50,196,300") << QPoint(10, 42);
    QTest::newRow("stored corner, no screen now")
        << ScreenAreas{} << QStringLiteral("20,20,196,300") << QPoint(0, 0);
    QTest::newRow("not four numbers") << twoScreens() << QStringLiteral("20,20,196") << QPoint(10, 42);
    QTest::newRow("not numbers") << twoScreens() << QStringLiteral("a,b,c,d") << QPoint(10, 42);
    QTest::newRow("empty frame") << twoScreens() << QStringLiteral("20,20,0,0") << QPoint(10, 42);
}

void TestTeamWindowFrame::placedAtLaunch()
{
    QFETCH(ScreenAreas, screens);
    QFETCH(QString, stored);
    QFETCH(QPoint, topLeft);

    Rig rig(screens);
    if (!stored.isEmpty())
        rig.store.setText(frameKey, stored);
    rig.frame->restore();
    QCOMPARE(rig.window.pos(), topLeft);
    // Only the corner comes back: the size stays the window's own.
    QCOMPARE(rig.window.size(), QSize(196, 280));
}

void TestTeamWindowFrame::onTopOnlyWhenAskedAtLaunch()
{
    for (const char* value : {"", "false", "true"}) {
        Rig rig;
        if (*value)
            rig.store.setText(QStringLiteral("keepTeamWindowOnTop"), QLatin1String(value));
        rig.frame->restore();
        QCOMPARE(rig.window.windowFlags().testFlag(Qt::WindowStaysOnTopHint), QByteArray(value) == "true");
    }
}

void TestTeamWindowFrame::frameStoredHalfASecondAfterTheLastMove()
{
    Rig rig;
    rig.frame->restore();
    rig.frame->showWithoutFocus();
    QVERIFY(rig.window.testAttribute(Qt::WA_ShowWithoutActivating));
    rig.scheduler.advance(1s);
    rig.store.remove(frameKey);

    rig.window.move(300, 200);
    rig.scheduler.advance(400ms);
    rig.window.move(320, 220);
    rig.scheduler.advance(400ms);
    QVERIFY(!rig.store.contains(frameKey));
    rig.scheduler.advance(100ms);
    QCOMPARE(rig.stored(), QStringLiteral("320,220,196,280"));
}

void TestTeamWindowFrame::frameStoredWhenHiddenAndAtTheEnd()
{
    Rig rig;
    rig.frame->restore();
    rig.frame->showWithoutFocus();
    rig.window.move(500, 400);
    rig.window.hide();
    QCOMPARE(rig.stored(), QStringLiteral("500,400,196,280"));

    // A move still waiting for its delay when the program ends is kept.
    rig.window.show();
    rig.window.move(600, 450);
    rig.frame.reset();
    QCOMPARE(rig.stored(), QStringLiteral("600,450,196,280"));
}

QTEST_MAIN(TestTeamWindowFrame)
#include "tst_team_window_frame.moc"
