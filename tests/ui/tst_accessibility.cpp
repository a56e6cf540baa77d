// The windows as the keyboard and a screen reader meet them: what Qt's
// accessibility layer (which the desktop's AT-SPI bridge reads) names each
// control, its role, actions and states, and what the keyboard reaches.
#include "ui/kit/FilledButton.h"
#include "ui/kit/RoundedLabel.h"
#include "ui/kit/WindowFinder.h"
#include "ui/main/ImageWindow.h"
#include "ui/settings/SettingsView.h"
#include "ui/team/MiniUserRow.h"
#include "ui/team/MiniWindow.h"
#include "ui/team/RingRequestView.h"

#include "AppRig.h"
#include "ViewTesting.h"

#include "platform/compositing/FakeCompositingQuery.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

using namespace pondra;

Q_DECLARE_METATYPE(pondra::RemoteUser)

namespace {

QAccessibleInterface* accessible(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

QString nameOf(QObject* object)
{
    return accessible(object)->text(QAccessible::Name);
}

bool isReadable(QObject* object)
{
    return !accessible(object)->state().invisible;
}

void hover(QWidget* widget)
{
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)));
    QCoreApplication::sendEvent(widget, &enter);
}

RemoteUser teammate(const QString& name, bool present, const QString& idleState)
{
    RemoteUser user;
    user.id = name.toLower();
    user.name = name;
    user.team = QStringLiteral("Blue");
    user.isPondra = present;
    user.idleState = idleState;
    return user;
}

} // namespace

class TestAccessibility final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    /// A row is read as its member: the name, then present or away, the
    /// activity, the marks and the status.
    void teamRowIsReadAsItsMember_data()
    {
        QTest::addColumn<RemoteUser>("user");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::newRow("present and active") << teammate("Bo", true, "active") << "Bo"
                                            << "present, active";
        RemoteUser busy = teammate("Cy", false, "idle");
        busy.isInMeeting = true;
        busy.isMuted = true;
        busy.isPlayingAudio = true;
        busy.isUsingHeadphones = true;
        busy.status = QStringLiteral("Focusing\non design");
        QTest::newRow("away, every mark, a status")
            << busy << "Cy"
            << "away, idle, in a meeting, muted, on headphones, status: Focusing on design";
        RemoteUser playing = teammate("Di\nNa", true, "semiIdle");
        playing.isPlayingAudio = true;
        playing.status = QString();
        QTest::newRow("playing, empty status") << playing << "Di Na"
                                               << "present, semi-idle, playing audio";
    }
    void teamRowIsReadAsItsMember()
    {
        QFETCH(RemoteUser, user);
        QFETCH(QString, name);
        QFETCH(QString, description);
        test::AppRig rig;
        rig.build();
        MiniWindow window(*rig.app, std::make_shared<FakeCompositingQuery>(true));
        window.showTeam({user});
        window.show();
        MiniUserRow* row = window.rows().value(0);
        QVERIFY(row);
        QCOMPARE(nameOf(row), name);
        QCOMPARE(accessible(row)->text(QAccessible::Description), description);
    }

    /// "Ring" is read as ringing that member, and only while it is shown; the
    /// own row's pencil and toggle say what they do.
    void rowButtonsSayWhatTheyDo()
    {
        test::AppRig rig;
        rig.build();
        MiniWindow window(*rig.app, std::make_shared<FakeCompositingQuery>(true));
        window.showTeam(
            {teammate(rig.app->userName().get(), true, "active"), teammate("Bo", true, "active")});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QList<MiniUserRow*> rows = window.rows();
        auto buttonsOf = [](MiniUserRow* row) { return row->findChildren<QPushButton*>(); };
        QPushButton* ring = nullptr;
        for (QPushButton* b : buttonsOf(rows[1]))
            ring = b->text() == QLatin1String("Ring") ? b : ring;
        QVERIFY(ring);
        QVERIFY(!isReadable(ring));
        hover(rows[1]);
        QVERIFY(isReadable(ring));
        QCOMPARE(accessible(ring)->role(), QAccessible::Button);
        QCOMPARE(nameOf(ring), QStringLiteral("Ring Bo"));

        hover(rows[0]);
        QStringList ownNames;
        for (QPushButton* b : buttonsOf(rows[0])) {
            if (isReadable(b))
                ownNames << nameOf(b);
        }
        QCOMPARE(ownNames, (QStringList{QStringLiteral("Update status"), rows[0]->model().toggleLabel()}));
        // The team window never takes the focus: its buttons are for the pointer.
        for (QPushButton* b : buttonsOf(rows[0]) + buttonsOf(rows[1]))
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);
    }

    void ringCardIsReadAsTheRinging()
    {
        RingRequestView card;
        card.setRing(QStringLiteral("Bo\nLi"), std::nullopt);
        QCOMPARE(nameOf(&card), QStringLiteral("Bo Li is ringing"));
        QCOMPARE(nameOf(card.acceptButton()), QStringLiteral("Sure!"));
    }

    /// The main window's name and status line act like buttons: the keyboard
    /// reaches them, Space presses them, and screen readers read and press them.
    void mainWindowLabelsAreButtons_data()
    {
        QTest::addColumn<bool>("statusLine");
        QTest::addColumn<bool>("bySpace");
        QTest::newRow("name, Space") << false << true;
        QTest::newRow("name, screen reader") << false << false;
        QTest::newRow("status line, Space") << true << true;
        QTest::newRow("status line, screen reader") << true << false;
    }
    void mainWindowLabelsAreButtons()
    {
        QFETCH(bool, statusLine);
        QFETCH(bool, bySpace);
        test::AppRig rig;
        rig.build();
        WindowRegistry::instance().setSettingsWindowFactory([] { return new QWidget; });
        ImageWindow window(*rig.app);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        RoundedLabel* label = statusLine ? window.statusLine() : window.nameLabel();
        QCOMPARE(accessible(label)->role(), QAccessible::Button);
        QCOMPARE(nameOf(label), label->text());
        QVERIFY(accessible(label)->state().focusable);
        QVERIFY(!accessible(label)->text(QAccessible::Description).isEmpty());
        if (bySpace) {
            label->setFocus(Qt::TabFocusReason);
            QVERIFY(label->hasFocus());
            QTest::keyClick(label, Qt::Key_Space);
        } else {
            QAccessibleActionInterface* actions = accessible(label)->actionInterface();
            QVERIFY(actions && actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
            actions->doAction(QAccessibleActionInterface::pressAction());
        }
        if (statusLine) {
            QVERIFY(window.statusEditor() && window.statusEditor()->isVisible());
            window.statusEditor()->close();
        } else {
            QWidget* settings = WindowRegistry::instance().settingsWindow();
            QVERIFY(settings && settings->isVisible());
        }
        delete WindowRegistry::instance().settingsWindow();
        WindowRegistry::instance().setSettingsWindowFactory({});
    }

    /// The token field is read by its label, not by its group's title; the eye
    /// says what it will do, is reached with Tab and pressed with Space.
    void settingsFieldsAndEye()
    {
        test::AppRig rig;
        rig.build();
        SettingsView view(*rig.app);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QCOMPARE(nameOf(view.apiTokenField()), QStringLiteral("API Token"));
        QCOMPARE(nameOf(view.serverURLField()), QStringLiteral("Server URL"));
        QToolButton* eye = view.tokenVisibilityButton();
        QCOMPARE(accessible(eye)->role(), QAccessible::Button);
        QCOMPARE(nameOf(eye), QStringLiteral("Show API token"));

        view.apiTokenField()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(view.apiTokenField(), Qt::Key_Tab);
        QVERIFY(eye->hasFocus());
        QTest::keyClick(eye, Qt::Key_Space);
        QVERIFY(view.isTokenShown());
        QCOMPARE(nameOf(eye), QStringLiteral("Hide API token"));
        accessible(eye)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(!view.isTokenShown());
        QCOMPARE(nameOf(eye), QStringLiteral("Show API token"));
    }
};

PONDRA_VIEW_TEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
