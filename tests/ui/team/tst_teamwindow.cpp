#include "ui/kit/FilledButton.h"
#include "ui/kit/FrameTicker.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"
#include "ui/kit/WindowFinder.h"
#include "ui/status/StatusEditView.h"
#include "ui/team/MarqueeText.h"
#include "ui/team/MiniUserRow.h"
#include "ui/team/MiniWindow.h"
#include "ui/team/RingRequestView.h"

#include "AppRig.h"
#include "ViewTesting.h"

#include "platform/compositing/FakeCompositingQuery.h"
#include "platform/pointer/FakePointerAndScreens.h"
#include "records/PhotoDecoder.h"

#include <QBuffer>
#include <QCheckBox>
#include <QJsonArray>
#include <QLineEdit>
#include <QPainter>
#include <QSet>

using namespace pondra;
using test::AppRig;

Q_DECLARE_METATYPE(pondra::RemoteUser)
Q_DECLARE_METATYPE(QList<pondra::AudioMark>)
Q_DECLARE_METATYPE(QList<pondra::RowAction>)

namespace {
RemoteUser member(const QString& id, const QString& name)
{
    RemoteUser u;
    u.id = id;
    u.name = name;
    u.team = QStringLiteral("Blue");
    u.isPondra = true;
    u.idleState = QStringLiteral("active");
    u.lastUpdate = QStringLiteral("2026-01-05T11:59:00Z");
    return u;
}

/// `count` teammates whose statuses scroll, each of another length:
/// different cycles, the same whole-pixel steps.
QList<RemoteUser> scrollingTeam(int count)
{
    QList<RemoteUser> team;
    for (int i = 0; i < count; ++i) {
        RemoteUser u = member(QStringLiteral("M%1").arg(i), QStringLiteral("Member %1").arg(i));
        u.status = QStringLiteral("Working on item %1 of the plan").arg(i) + QString(i * 3, QLatin1Char('x'));
        team << u;
    }
    return team;
}

QString photoText(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(bytes.toBase64());
}

QString message(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString usersMessage(const QList<RemoteUser>& users)
{
    QJsonArray data;
    for (const RemoteUser& u : users)
        data.append(u.toJson());
    return message({{QStringLiteral("type"), QStringLiteral("users")}, {QStringLiteral("data"), data}});
}

QString ringMessage(const QString& from, const std::optional<QString>& photo = std::nullopt)
{
    QJsonObject o{{QStringLiteral("type"), QStringLiteral("ring")},
                  {QStringLiteral("from"), from},
                  {QStringLiteral("to"), QStringLiteral("Ana")},
                  {QStringLiteral("url"), QStringLiteral("https://meet.example.com/x")}};
    if (photo)
        o.insert(QStringLiteral("photo"), *photo);
    return message(o);
}

/// A primary screen with a panel along its top, and a shorter one to its right.
QList<ScreenArea> twoScreens()
{
    return {ScreenArea{QRect(0, 0, 1000, 800), QRect(0, 30, 1000, 740)},
            ScreenArea{QRect(1000, 0, 800, 600), QRect(1000, 0, 800, 600)}};
}

/// The rig with a team window on it, on one roomy screen unless the test says otherwise.
struct WindowRig
{
    AppRig rig;
    std::shared_ptr<FakeCompositingQuery> compositing = std::make_shared<FakeCompositingQuery>(true);
    std::shared_ptr<FakePointerAndScreens> screens = std::make_shared<FakePointerAndScreens>();
    std::unique_ptr<MiniWindow> window;

    WindowRig()
    {
        rig.build();
        screens->screenList = {ScreenArea{QRect(0, 0, 1280, 1024), QRect(0, 0, 1280, 1024)}};
        window = std::make_unique<MiniWindow>(*rig.app, compositing, screens);
        window->move(10, 10);
    }
    void deliver(const QString& text) { QVERIFY(rig.sockets->latest()->deliverText(text)); }
    void team(const QList<RemoteUser>& users) { deliver(usersMessage(users)); }
    int requestsTo(const QString& path) const
    {
        int n = 0;
        for (const auto& r : rig.http->requests())
            n += r.url.path() == path ? 1 : 0;
        return n;
    }
};

void hover(QWidget* row, bool inside)
{
    if (inside) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), row->mapToGlobal(QPointF(5, 5)));
        QCoreApplication::sendEvent(row, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(row, &leave);
    }
}

QColor pixel(const QImage& image, QPoint at)
{
    return image.pixelColor(at);
}

// Expected heights that depend on the font: the header alone, the whole team.
constexpr int headerAlone = -1;
constexpr int itsContent = -2;

} // namespace

class TestTeamWindow final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { clearPhotoCache(); }

    void rowModels_data()
    {
        QTest::addColumn<RemoteUser>("user");
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QList<AudioMark>>("marks");
        QTest::addColumn<bool>("statusLine");
        QTest::addColumn<bool>("isSelf");
        QTest::addColumn<QList<RowAction>>("actions");
        QTest::addColumn<QColor>("dot");

        const AudioMark mute{Glyph::speakerSlashFill, palette::orange()};
        const AudioMark music{Glyph::musicNote, palette::purple()};
        const AudioMark phones{Glyph::headphones, palette::blue()};
        const QList<RowAction> ring{RowAction::ring};
        const QList<RowAction> own{RowAction::updateStatus, RowAction::togglePresence};

        RemoteUser plain = member("B", "Bo");
        QTest::newRow("no flags: empty audio line, no status")
            << plain << "Ana" << QList<AudioMark>{} << false << false << ring << palette::green();
        RemoteUser muted = member("B", "Bo");
        muted.isMuted = true;
        muted.isPlayingAudio = true;
        QTest::newRow("muted wins over playing")
            << muted << "Ana" << QList<AudioMark>{mute} << false << false << ring << palette::green();
        RemoteUser playing = member("B", "Bo");
        playing.isPlayingAudio = true;
        playing.isUsingHeadphones = true;
        playing.idleState = QStringLiteral("semiIdle");
        QTest::newRow("playing then headphones") << playing << "Ana" << QList<AudioMark>{music, phones}
                                                 << false << false << ring << palette::yellow();
        RemoteUser phonesOnly = member("B", "Bo");
        phonesOnly.isUsingHeadphones = true;
        phonesOnly.isMuted = false;
        phonesOnly.idleState = QStringLiteral("away");
        QTest::newRow("headphones alone, unknown idle text")
            << phonesOnly << "Ana" << QList<AudioMark>{phones} << false << false << ring << palette::gray();
        RemoteUser empty = member("B", "Bo");
        empty.status = QString();
        QTest::newRow("empty status: no line")
            << empty << "Ana" << QList<AudioMark>{} << false << false << ring << palette::green();
        RemoteUser space = member("B", "Bo");
        space.status = QStringLiteral(" ");
        QTest::newRow("one space is a status")
            << space << "Ana" << QList<AudioMark>{} << true << false << ring << palette::green();
        QTest::newRow("own row") << member("A", "Ana") << "Ana" << QList<AudioMark>{} << false << true << own
                                 << palette::green();
        QTest::newRow("case-different name is a teammate")
            << member("A", "ana") << "Ana" << QList<AudioMark>{} << false << false << ring
            << palette::green();
        // The canonical match is for names that arrive in another normal form.
        const QString composed = QString::fromUtf16(u"Zo\u00eb");
        const QString decomposed = QString::fromUtf16(u"Zoe\u0308");
        QTest::newRow("same name, decomposed in the record")
            << member("Z", decomposed) << composed << QList<AudioMark>{} << false << true << own
            << palette::green();
        QTest::newRow("same name, decomposed in the settings")
            << member("Z", composed) << decomposed << QList<AudioMark>{} << false << true << own
            << palette::green();
    }
    void rowModels()
    {
        QFETCH(RemoteUser, user);
        QFETCH(QString, userName);
        QFETCH(QList<AudioMark>, marks);
        QFETCH(bool, statusLine);
        QFETCH(bool, isSelf);
        QFETCH(QList<RowAction>, actions);
        QFETCH(QColor, dot);
        const TeamRowModel m = TeamRowModel::from(user, userName, true);
        QCOMPARE(m.audioMarks(), marks);
        QCOMPARE(m.showsStatus(), statusLine);
        QCOMPARE(m.isSelf, isSelf);
        QCOMPARE(m.hoverActions(), actions);
        QCOMPARE(palette::idleColor(m.idleState), dot);
        QVERIFY(m.isPondra);
    }

    void toggleNamesTheChange_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("label");
        QTest::addColumn<Glyph>("glyph");
        QTest::addColumn<QColor>("fill");
        QTest::newRow("present is offered Away") << true << "Away" << Glyph::moonFill << palette::gray();
        QTest::newRow("away is offered Pondra") << false << "Pondra" << Glyph::sunMaxFill << palette::green();
    }
    void toggleNamesTheChange()
    {
        QFETCH(bool, present);
        QFETCH(QString, label);
        QFETCH(Glyph, glyph);
        QFETCH(QColor, fill);
        const TeamRowModel m = TeamRowModel::from(member("A", "Ana"), QStringLiteral("Ana"), present);
        QCOMPARE(m.toggleLabel(), label);
        QCOMPARE(m.toggleGlyph(), glyph);
        QCOMPARE(m.toggleFill(), fill);
    }

    void headerStates_data()
    {
        QTest::addColumn<QString>("team");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("reconnecting");
        QTest::newRow("connected") << "Blue" << true << "Blue" << false;
        QTest::newRow("disconnected") << "Blue" << false << "Blue" << true;
        QTest::newRow("team name on one line") << "Blue\nTeam" << true << "Blue Team" << false;
    }
    void headerStates()
    {
        QFETCH(QString, team);
        QFETCH(bool, connected);
        QFETCH(QString, shown);
        QFETCH(bool, reconnecting);
        const TeamHeaderModel h = TeamHeaderModel::from(team, connected);
        QCOMPARE(h.teamName, shown);
        QCOMPARE(h.showsReconnecting, reconnecting);
    }

    void windowFollowsTheConnection()
    {
        WindowRig w;
        QVERIFY(!w.rig.app->isConnected.get());
        QVERIFY(w.window->headerModel().showsReconnecting);
        const int emptyHeight = w.window->contentHeight();
        w.team({});
        QVERIFY(!w.window->headerModel().showsReconnecting);
        QCOMPARE(w.window->headerModel().teamName, QStringLiteral("Blue"));
        // An empty team: the header alone.
        QVERIFY(w.window->rows().isEmpty());
        QCOMPARE(w.window->contentHeight(), emptyHeight);
        QCOMPARE(w.window->width(), 196);
        QCOMPARE(w.window->objectName(), QStringLiteral("PondraTeamWindow"));
        QCOMPARE(WindowFinder::findTeamWindow(), w.window.get());
        QVERIFY(w.window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(w.window->windowFlags().testFlag(Qt::Tool));
    }

    void rowsAreKeptByIdentity()
    {
        WindowRig w;
        w.team({member("A", "Ana"), member("B", "Bo"), member("B", "Bo two")});
        QList<MiniUserRow*> rows = w.window->rows();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[2]->model().name, QStringLiteral("Bo two"));
        const int threeRows = w.window->contentHeight();
        QCOMPARE(w.window->height(), threeRows);
        hover(rows[1], true);
        QVERIFY(rows[1]->isHovering());

        // Reordered and updated: the same rows, hover kept.
        RemoteUser bo = member("B", "Bo");
        bo.status = QStringLiteral("Lunch");
        w.team({bo, member("A", "Ana"), member("B", "Bo two")});
        const QList<MiniUserRow*> again = w.window->rows();
        QCOMPARE(again[0], rows[1]);
        QCOMPARE(again[1], rows[0]);
        QCOMPARE(again[2], rows[2]);
        QVERIFY(again[0]->isHovering());
        QCOMPARE(again[0]->model().status, std::optional<QString>(QStringLiteral("Lunch")));

        // Height follows the content.
        w.team({member("A", "Ana")});
        QCOMPARE(w.window->rows().size(), 1);
        QCOMPARE(w.window->height(), threeRows - 2 * (56 + 4));
    }

    void ownRowsGetTheOwnActions()
    {
        WindowRig w;
        w.team({member("A1", "Ana"), member("B", "Bo"), member("A2", "Ana"), member("C", "ana")});
        const QList<MiniUserRow*> rows = w.window->rows();
        QList<bool> own;
        for (MiniUserRow* r : rows)
            own << r->model().isSelf;
        QCOMPARE(own, (QList<bool>{true, false, true, false}));
        for (MiniUserRow* r : rows) {
            hover(r, true);
            const auto buttons = r->findChildren<FilledButton*>();
            QStringList visible;
            for (FilledButton* b : buttons)
                if (b->isVisibleTo(r))
                    visible << (b->text().isEmpty() ? QStringLiteral("pencil") : b->text());
            visible.sort();
            const QStringList expected = r->model().isSelf
                                             ? QStringList{QStringLiteral("Pondra"), QStringLiteral("pencil")}
                                             : QStringList{QStringLiteral("Ring")};
            QCOMPARE(visible, expected);
            hover(r, false);
        }
    }

    void ringSendsByName()
    {
        WindowRig w;
        w.team({member("B", "Bo")});
        MiniUserRow* row = w.window->rows()[0];
        hover(row, true);
        FilledButton* ring = nullptr;
        for (FilledButton* b : row->findChildren<FilledButton*>())
            if (b->text() == QLatin1String("Ring"))
                ring = b;
        QVERIFY(ring);
        ring->click();
        QCOMPARE(w.rig.app->waitingForResponse.get(),
                 std::optional<QString>(QStringLiteral("Checking with Bo...")));
    }

    void presenceToggleAndDoubleClick()
    {
        WindowRig w;
        auto main = std::make_unique<QWidget>();
        main->setWindowTitle(QStringLiteral("Pondra"));
        WindowRegistry::instance().add(main.get());
        w.team({member("A", "Ana"), member("B", "Bo")});
        MiniUserRow* own = w.window->rows()[0];
        MiniUserRow* mate = w.window->rows()[1];

        QTest::mouseDClick(mate, Qt::LeftButton, {}, QPoint(80, 20));
        QVERIFY(!main->isVisible());
        QTest::mouseDClick(own, Qt::LeftButton, {}, QPoint(80, 20));
        QVERIFY(main->isVisible());

        // Away: one press starts a manual capture; present: the next goes away at once.
        CameraCapture& capture = w.rig.app->cameraCapture();
        QVERIFY(!capture.isPondraMode.get());
        hover(own, true);
        FilledButton* toggle = nullptr;
        for (FilledButton* b : own->findChildren<FilledButton*>())
            if (b->text() == QLatin1String("Pondra"))
                toggle = b;
        QVERIFY(toggle);
        toggle->click();
        QVERIFY(capture.isCapturing());
        QVERIFY(!capture.isPondraMode.get());
        QTest::ignoreMessage(QtInfoMsg, "Capture already in progress, skipping");
        toggle->click(); // turned away by the capture service
        w.rig.scheduler.advance(milliseconds(500));
        w.rig.camera->lastSession->deliverFrame(test::detailedFrame(60));
        w.rig.scheduler.advance(milliseconds(1500));
        QTRY_VERIFY(!capture.isCapturing());
        QVERIFY(capture.isPondraMode.get());
        QCOMPARE(toggle->text(), QStringLiteral("Away"));
        toggle->click();
        QVERIFY(!capture.isPondraMode.get());
        QCOMPARE(toggle->text(), QStringLiteral("Pondra"));
    }

    void ringCardTakesThePlaceOfTheList()
    {
        WindowRig w;
        w.team({member("A", "Ana"), member("B", "Bo")});
        const int listHeight = w.window->height();
        w.window->show();
        w.deliver(ringMessage(QStringLiteral("Bo")));
        QVERIFY(w.window->showsRingCard());
        QVERIFY(w.window->ringCard()->isVisible());
        QVERIFY(!w.window->rows()[0]->isVisible());
        QCOMPARE(w.window->ringCard()->senderName(), QStringLiteral("Bo"));
        QCOMPARE(w.window->height(), 16 + w.window->ringCard()->height());

        // A newer ring replaces the one shown.
        w.deliver(ringMessage(QStringLiteral("Cy <i>x</i>")));
        QCOMPARE(w.window->ringCard()->senderName(), QStringLiteral("Cy <i>x</i>"));

        const int before = w.requestsTo(QStringLiteral("/pondra/ring-response"));
        w.window->ringCard()->acceptButton()->click();
        w.rig.settle();
        QCOMPARE(w.requestsTo(QStringLiteral("/pondra/ring-response")), before + 1);
        QVERIFY(!w.window->showsRingCard());
        QVERIFY(w.window->rows()[0]->isVisible());
        QCOMPARE(w.window->height(), listHeight);
    }

    void heightCapFollowsThePlaceAndTheScreen_data()
    {
        QTest::addColumn<int>("members");
        QTest::addColumn<QPoint>("movedTo");
        QTest::addColumn<int>("height");
        QTest::newRow("moved down") << 20 << QPoint(10, 400) << 770 - 400;
        QTest::newRow("to the shorter screen") << 20 << QPoint(1100, 100) << 600 - 100;
        QTest::newRow("corner past the left edge: the screen it is on")
            << 20 << QPoint(-30, 100) << 770 - 100;
        QTest::newRow("below the usable area: the header stays") << 20 << QPoint(10, 780) << headerAlone;
        QTest::newRow("a team that fits keeps its height") << 3 << QPoint(10, 400) << itsContent;
    }
    void heightCapFollowsThePlaceAndTheScreen()
    {
        QFETCH(int, members);
        QFETCH(QPoint, movedTo);
        QFETCH(int, height);
        WindowRig w;
        w.screens->screenList = twoScreens();
        w.team({});
        const int header = w.window->contentHeight();
        QList<RemoteUser> team;
        for (int i = 0; i < members; ++i)
            team << member(QString::number(i), QStringLiteral("Member %1").arg(i));
        w.team(team);
        if (height == headerAlone)
            height = header;
        else if (height == itsContent)
            height = w.window->contentHeight();

        // From the top of the primary screen's usable area to its bottom...
        w.window->move(10, 40);
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        if (members == 20)
            QTRY_COMPARE(w.window->height(), 770 - 40);
        // ...and redone where it is moved.
        w.window->move(movedTo);
        QTRY_COMPARE(w.window->height(), height);
        QCOMPARE(w.window->width(), 196);
    }

    void rowsAreCutAtThePanelsInnerEdge()
    {
        WindowRig w;
        w.screens->screenList = twoScreens();
        QList<RemoteUser> team;
        for (int i = 0; i < 20; ++i) {
            RemoteUser u = member(QString::number(i), QStringLiteral("Member %1").arg(i));
            u.photo = photoText(test::colourBands());
            team << u;
        }
        w.team(team);
        w.window->move(10, 40);
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QTRY_COMPARE(w.window->height(), 770 - 40);

        const int innerEdge = w.window->height() - MiniWindow::margin - MiniWindow::padding;
        const QList<MiniUserRow*> rows = w.window->rows();
        MiniUserRow* crossing = nullptr;
        for (MiniUserRow* row : rows) {
            QCOMPARE(row->isVisible(), row->y() < innerEdge);
            if (row->isVisible() && row->y() + MiniUserRow::photoSide > innerEdge)
                crossing = row;
        }
        QVERIFY(crossing);
        // The photo (green in its middle) runs to the inner edge and no further:
        // below it only the panel and its shadow.
        const QImage image = test::grabWidget(*w.window);
        const int x = crossing->x() + MiniUserRow::photoSide / 2;
        QVERIFY(test::isNear(pixel(image, QPoint(x, innerEdge - 1)), QColor(0, 255, 0)));
        for (int y = innerEdge; y < image.height(); ++y)
            QVERIFY2(!test::isNear(pixel(image, QPoint(x, y)), QColor(0, 255, 0), 60),
                     qPrintable(QStringLiteral("row drawn at y %1").arg(y)));
        // Nor can the cut part be hovered: it is not the row's any more.
        QVERIFY(!crossing->mask().contains(QPoint(10, innerEdge - crossing->y())));
    }

    void teamNameFollowsThePalette()
    {
        WindowRig w;
        w.compositing->compositing = false; // opaque, so the pixels are the colours
        w.team({});
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        auto* name = w.window->findChild<ElidedLabel*>();
        QVERIFY(name);
        // How much lighter (above 0) or darker the team name's ink is than the panel beside it.
        const auto inkAgainstPanel = [&] {
            const QImage image = test::grabWidget(*w.window);
            const QRect label = name->geometry();
            const int panel = pixel(image, QPoint(label.right() - 2, label.center().y())).lightness();
            int ink = panel;
            for (int y = label.top(); y <= label.bottom(); ++y)
                for (int x = label.left(); x < label.left() + 30; ++x) {
                    const int l = pixel(image, QPoint(x, y)).lightness();
                    if (std::abs(l - panel) > std::abs(ink - panel))
                        ink = l;
                }
            return ink - panel;
        };
        QCOMPARE_LT(inkAgainstPanel(), -60);
        {
            test::ScopedApplicationPalette dark(test::darkPalette());
            QCoreApplication::processEvents(); // the change reaches the windows on the next turn
            QCOMPARE_GT(inkAgainstPanel(), 60);
        }
        QCoreApplication::processEvents();
        QCOMPARE_LT(inkAgainstPanel(), -60);
    }

    void marqueeFormula_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("textWidth");
        QTest::addColumn<double>("expected");
        // W 100, text 150: total 250, cycle 10 s.
        QTest::newRow("phase 0") << 1000.0 << 100.0 << 150.0 << 100.0;
        QTest::newRow("phase 2 s") << 1002.0 << 100.0 << 150.0 << 50.0;
        QTest::newRow("near the end") << 1009.996 << 100.0 << 150.0 << -149.9;
        QTest::newRow("nothing to cross") << 1234.567 << 0.0 << 0.0 << 0.0;
        // Total 2: the cycle is held at 0.1 s, so 20 px/s.
        QTest::newRow("floor of the cycle") << 1000.05 << 2.0 << 0.0 << 1.0;
    }
    void marqueeFormula()
    {
        QFETCH(double, seconds);
        QFETCH(double, width);
        QFETCH(double, textWidth);
        QFETCH(double, expected);
        QVERIFY(qAbs(MarqueeText::offset(seconds, width, textWidth) - expected) < 0.01);
    }

    void marqueeModes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("19 letters") << QString(19, QLatin1Char('a')) << false;
        QTest::newRow("20 letters, even where they fit") << QString(20, QLatin1Char('i')) << true;
        QTest::newRow("19 letters and an emoji")
            << QString(19, QLatin1Char('a')) + QString::fromUtf16(u"\U0001F3B5") << true;
        QTest::newRow("19 accented letters") << QString::fromUtf16(u"e\u0301").repeated(19) << false;
    }
    void marqueeModes()
    {
        QFETCH(QString, text);
        QFETCH(bool, scrolls);
        VirtualScheduler scheduler;
        FrameTicker ticker(scheduler);
        MarqueeText marquee(ticker);
        marquee.setFont(text::system(8));
        marquee.resize(86, 10);
        marquee.setText(text);
        QCOMPARE(marquee.isScrolling(), scrolls);
        marquee.show();
        QCOMPARE(ticker.isRunning(), scrolls);
        marquee.hide();
        QVERIFY(!ticker.isRunning());
    }

    void marqueeRunsOnTheClockAndRepaintsPerPixel()
    {
        VirtualScheduler scheduler(QDateTime(QDate(2001, 1, 1), QTime(0, 16, 40), Qt::UTC)); // 1000 s after
        FrameTicker ticker(scheduler);
        QWidget host;
        host.resize(200, 40);
        MarqueeText marquee(ticker, &host);
        marquee.setFont(text::system(8));
        marquee.setGeometry(10, 10, 100, 10);
        marquee.setText(QStringLiteral("A long status that scrolls by"));
        // Measured at once, before anything is drawn.
        QCOMPARE(marquee.textWidth(), QFontMetrics(text::system(8)).horizontalAdvance(marquee.text()));
        const double total = 100 + marquee.textWidth();
        const double cycle = total / 25;
        QCOMPARE(marquee.currentOffset(), int(std::floor(100 - std::fmod(1000.0, cycle) / cycle * total)));

        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        test::PaintCounter counter(&marquee);
        QCoreApplication::processEvents();
        counter.count = 0;
        const int start = marquee.currentOffset();
        for (int i = 0; i < 60; ++i) {
            scheduler.advance(milliseconds(16)); // ~1 s of frames
        }
        // 25 px/s: one repaint per whole pixel, not one per frame.
        QVERIFY2(counter.count >= 23 && counter.count <= 26, qPrintable(QString::number(counter.count)));
        QCOMPARE(start - marquee.currentOffset(), 24);
        host.hide();
        QVERIFY(!ticker.isRunning());
    }

    void scrollingStatusesStepTogetherWithoutRepaintingBeneath()
    {
        WindowRig w;
        w.team(scrollingTeam(4));
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QCoreApplication::processEvents();

        struct Paints final : QObject
        {
            VirtualScheduler* clock = nullptr;
            QHash<QObject*, int> count;
            QSet<qint64> moments;
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() == QEvent::Paint) {
                    ++count[watched];
                    if (qobject_cast<MarqueeText*>(watched))
                        moments.insert(clock->now().toMSecsSinceEpoch());
                }
                return false;
            }
        } paints;
        paints.clock = &w.rig.scheduler;
        w.window->installEventFilter(&paints);
        QList<MarqueeText*> texts;
        for (MiniUserRow* row : w.window->rows()) {
            row->installEventFilter(&paints);
            MarqueeText* text = row->findChild<MarqueeText*>();
            QVERIFY(text && text->isScrolling() && text->isVisible());
            text->installEventFilter(&paints);
            texts << text;
        }
        for (int i = 0; i < 125; ++i) { // 1 s, in the event loop's turns
            w.rig.scheduler.advance(milliseconds(8));
        }
        // 25 px/s: each text is painted once per whole pixel, all of them at
        // the same moments, and nothing beneath them is painted again.
        for (MarqueeText* text : texts)
            QVERIFY2(paints.count.value(text) >= 24 && paints.count.value(text) <= 26,
                     qPrintable(QString::number(paints.count.value(text))));
        QVERIFY2(paints.moments.size() >= 24 && paints.moments.size() <= 26,
                 qPrintable(QString::number(paints.moments.size())));
        QCOMPARE(paints.count.value(w.window.get()), 0);
        for (MiniUserRow* row : w.window->rows())
            QCOMPARE(paints.count.value(row), 0);
    }

    void scrollingGoesOnWhenTheWallClockIsSet()
    {
        WindowRig w;
        w.team(scrollingTeam(3));
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QCoreApplication::processEvents();
        QList<MarqueeText*> texts;
        for (MiniUserRow* row : w.window->rows())
            texts << row->findChild<MarqueeText*>();
        QCOMPARE(texts.size(), 3);

        // Set back an hour, then forward two (a time server's correction, the
        // user setting the time): every status moves on within 100 ms.
        w.rig.scheduler.advance(milliseconds(500));
        for (const qint64 change : {-3'600'000, 7'200'000}) {
            w.rig.scheduler.setNow(w.rig.scheduler.now().addMSecs(change));
            QList<QImage> before;
            for (const MarqueeText* text : texts) {
                QVERIFY(text->isScrolling());
                before << test::inBackingStore(*text);
            }
            QList<int> movedAfter(texts.size(), -1);
            for (int ms = 5; ms <= 100; ms += 5) {
                w.rig.scheduler.advance(milliseconds(5));
                for (qsizetype i = 0; i < texts.size(); ++i)
                    if (movedAfter[i] < 0 && test::inBackingStore(*texts[i]) != before[i])
                        movedAfter[i] = ms;
            }
            QStringList moments;
            for (const int ms : movedAfter)
                moments << QString::number(ms);
            QVERIFY2(!movedAfter.contains(-1),
                     qPrintable(QStringLiteral("clock set by %1 ms, moved after: %2")
                                    .arg(change)
                                    .arg(moments.join(u' '))));
        }
    }

    void scrollingRestsWhileNobodyCanSeeIt()
    {
        WindowRig w;
        RemoteUser bo = member("B", "Bo");
        bo.status = QStringLiteral("A long status that scrolls by");
        w.team({bo});
        FrameTicker& ticker = w.window->frameTicker();
        QVERIFY(!ticker.isRunning()); // not shown yet
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QVERIFY(ticker.isRunning());
        // While the pointer is over the row, the status gives way to "Ring".
        MiniUserRow* row = w.window->rows()[0];
        hover(row, true);
        w.rig.scheduler.advance(milliseconds(200));
        QVERIFY(!ticker.isRunning());
        hover(row, false);
        QVERIFY(ticker.isRunning());
        w.window->hide();
        w.rig.scheduler.advance(milliseconds(200));
        QVERIFY(!ticker.isRunning());
    }

    void rowSwapFadesOnHover()
    {
        WindowRig w;
        RemoteUser bo = member("B", "Bo");
        bo.status = QStringLiteral("Lunch");
        w.team({bo});
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        MiniUserRow* row = w.window->rows()[0];
        FilledButton* ring = nullptr;
        for (FilledButton* b : row->findChildren<FilledButton*>())
            if (b->text() == QLatin1String("Ring"))
                ring = b;
        QVERIFY(ring);
        const QPoint inRing = ring->geometry().center() + QPoint(0, 8);
        auto ringShade = [&] {
            const QImage image = test::grabWidget(*row);
            return image.pixelColor(inRing);
        };
        auto nearOrange = [](const QColor& c) { return test::isNear(c, palette::orange(), 12); };

        // 0.1 s, eased in and out: at once the button is there but not yet
        // seen, halfway it is half seen, then it stands alone.
        hover(row, true);
        QVERIFY(ring->isVisible());
        QVERIFY(!nearOrange(ringShade()));
        QVERIFY(row->findChild<MarqueeText*>()->isVisible());
        w.rig.scheduler.advance(milliseconds(48));
        const QColor half = ringShade();
        QVERIFY2(!nearOrange(half) && half.alpha() > 60, qPrintable(half.name(QColor::HexArgb)));
        w.rig.scheduler.advance(milliseconds(64));
        QVERIFY(nearOrange(ringShade()));
        QVERIFY(!row->findChild<MarqueeText*>()->isVisible());
        QVERIFY(!w.window->frameTicker().isRunning());

        // And back: the status returns at once, fading in; the button, fading
        // out, takes no clicks and is gone after 0.1 s.
        hover(row, false);
        QVERIFY(row->findChild<MarqueeText*>()->isVisible());
        QVERIFY(ring->isVisible() && ring->testAttribute(Qt::WA_TransparentForMouseEvents));
        w.rig.scheduler.advance(milliseconds(112));
        QVERIFY(!ring->isVisible());
        QVERIFY(!ring->graphicsEffect());
        QVERIFY(!w.window->frameTicker().isRunning());
    }

    void gapBelowARowIsNobodys_data()
    {
        QTest::addColumn<bool>("inMeeting");
        QTest::newRow("no badge") << false;
        QTest::newRow("meeting badge") << true;
    }
    void gapBelowARowIsNobodys()
    {
        QFETCH(bool, inMeeting);
        WindowRig w;
        RemoteUser ana = member("A", "Ana");
        ana.isInMeeting = inMeeting;
        w.team({ana, member("B", "Bo")});
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        MiniUserRow* own = w.window->rows()[0];
        auto rowAt = [&](QPoint inOwn) {
            QWidget* hit = w.window->childAt(own->mapTo(w.window.get(), inOwn));
            while (hit && !qobject_cast<MiniUserRow*>(hit))
                hit = hit->parentWidget();
            return hit;
        };
        QCOMPARE(rowAt(QPoint(100, 55)), own);
        QCOMPARE(rowAt(QPoint(100, 57)), nullptr); // the 4 px between two rows
        QCOMPARE(rowAt(QPoint(20, 59)), nullptr);
        // The meeting badge hangs into the gap and is the row's where it is drawn.
        QCOMPARE(rowAt(QPoint(51, 58)), inMeeting ? own : nullptr);

        auto main = std::make_unique<QWidget>();
        main->setWindowTitle(QStringLiteral("Pondra"));
        WindowRegistry::instance().add(main.get());
        const QPoint gap = own->mapTo(w.window.get(), QPoint(100, 58));
        QTest::mouseDClick(w.window.get(), Qt::LeftButton, {}, gap);
        QVERIFY(!main->isVisible());
    }

    void statusFollowsThePalette()
    {
        WindowRig w;
        RemoteUser bo = member("B", "Bo");
        bo.status = QStringLiteral("Lunch");
        w.team({bo});
        w.window->show(); // a shown window hears of the desktop's colours
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        MiniUserRow* row = w.window->rows()[0];
        MarqueeText* status = row->findChild<MarqueeText*>();
        QVERIFY(status);
        const QRect strip = status->geometry();
        // How much lighter the status's ink is than the panel at the strip's empty end.
        auto inkOverPanel = [&] {
            QCoreApplication::processEvents(); // a change of the desktop's colours reaches the widgets
            const QImage image = test::grabWidget(*w.window);
            const QPoint origin = row->mapTo(w.window.get(), strip.topLeft());
            const QColor panel = image.pixelColor(origin + QPoint(strip.width() - 2, strip.height() / 2));
            int furthest = 0;
            for (int y = 0; y < strip.height(); ++y)
                for (int x = 0; x < strip.width() / 2; ++x) {
                    const int d = image.pixelColor(origin + QPoint(x, y)).lightness() - panel.lightness();
                    if (std::abs(d) > std::abs(furthest))
                        furthest = d;
                }
            return furthest;
        };
        QVERIFY2(inkOverPanel() < -40, qPrintable(QString::number(inkOverPanel()))); // dark on light
        {
            test::ScopedApplicationPalette dark(test::darkPalette());
            QVERIFY2(inkOverPanel() > 40, qPrintable(QString::number(inkOverPanel()))); // light on dark
        }
        QVERIFY(inkOverPanel() < -40);
    }

    void statusIsCleaned_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("saved");
        QTest::newRow("two spaces each side") << "  In a call  "
                                              << "In a call";
        QTest::newRow("two lines joined") << "Deep work\nuntil 3"
                                          << "Deep work until 3";
        QTest::newRow("trailing line feed") << "Lunch\n"
                                            << "Lunch";
        QTest::newRow("carriage return kept") << "a\rb\r"
                                              << "a\rb\r";
        QTest::newRow("tab trimmed") << "\tFocus\t"
                                     << "Focus";
        QTest::newRow("NBSP and ideographic space") << QString::fromUtf16(u"\u00a0Focus\u3000") << "Focus";
        QTest::newRow("only spaces") << "    "
                                     << "";
        QTest::newRow("inner spaces kept") << "a  b"
                                           << "a  b";
    }
    void statusIsCleaned()
    {
        QFETCH(QString, input);
        QFETCH(QString, saved);
        QCOMPARE(StatusEditView::cleanedStatus(input), saved);
    }

    void statusEditorWritesOnlyOnSaveOrClear()
    {
        WindowRig w;
        AppState& app = *w.rig.app;
        app.setUserStatus(QStringLiteral("Lunch"));
        app.setIncludeNowPlaying(true);
        w.team({member("A", "Ana")});
        w.window->show();
        MiniUserRow* own = w.window->rows()[0];
        hover(own, true);
        for (FilledButton* b : own->findChildren<FilledButton*>())
            if (b->text().isEmpty())
                b->click();
        StatusEditView* editor = w.window->statusEditor();
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->windowTitle(), QStringLiteral("Set Your Status"));
        QCOMPARE(editor->windowModality(), Qt::WindowModal);
        QCOMPARE(editor->statusField()->text(), QStringLiteral("Lunch"));
        QVERIFY(editor->nowPlayingBox()->isChecked());
        QCOMPARE(editor->nowPlayingLine(), QStringLiteral("No music playing"));
        QTRY_COMPARE(QApplication::focusWidget(), editor->statusField());
        QVERIFY(!editor->saveButton()->isDefault() && !editor->saveButton()->autoDefault());
        QVERIFY(!editor->clearButton()->autoDefault());

        // Typing, Enter and Esc write nothing and keep the window up.
        QSignalSpy changed(&app, &AppState::changed);
        editor->statusField()->setText(QStringLiteral("  Deep\nwork  "));
        QTest::keyClick(editor->statusField(), Qt::Key_Return);
        QTest::keyClick(editor->statusField(), Qt::Key_Escape);
        QVERIFY(editor->isVisible());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(app.userStatus().get(), QStringLiteral("Lunch"));

        editor->nowPlayingBox()->setChecked(false);
        editor->saveButton()->click();
        QVERIFY(!editor->isVisible());
        QCOMPARE(app.userStatus().get(), QStringLiteral("Deep work"));
        QVERIFY(!app.includeNowPlaying().get());

        // Filled afresh at the next opening; closing it discards.
        app.setUserStatus(QStringLiteral("Back at 3"));
        editor->open();
        QCOMPARE(editor->statusField()->text(), QStringLiteral("Back at 3"));
        editor->statusField()->setText(QStringLiteral("never saved"));
        editor->close();
        QCOMPARE(app.userStatus().get(), QStringLiteral("Back at 3"));

        // Clear writes both, whatever the field and the box hold.
        app.setIncludeNowPlaying(true);
        editor->open();
        QVERIFY(editor->nowPlayingBox()->isChecked());
        editor->clearButton()->click();
        QCOMPARE(app.userStatus().get(), QString());
        QVERIFY(!app.includeNowPlaying().get());
        QVERIFY(!editor->isVisible());
    }

    void rowPixels()
    {
        WindowRig w;
        RemoteUser bo = member("B", "<b>Bo</b>");
        bo.photo = photoText(test::colourBands());
        bo.isInMeeting = true;
        w.team({bo});
        MiniUserRow* row = w.window->rows()[0];
        const QImage image = test::grabWidget(*row);
        // The landscape photo is cropped to its middle, edge to edge.
        for (const QPoint at : {QPoint(2, 20), QPoint(28, 2), QPoint(28, 28), QPoint(53, 20)})
            QVERIFY2(test::isNear(pixel(image, at), QColor(0, 255, 0)), qPrintable(pixel(image, at).name()));
        // The meeting badge hangs past the photo, whole.
        QVERIFY(test::isNear(pixel(image, QPoint(58, 51)), palette::green()));
        QVERIFY(test::isNear(pixel(image, QPoint(51, 58)), palette::green()));
        // The markup is drawn as text: ink runs as far as the whole text does.
        const int nameWidth = QFontMetrics(text::system(10, QFont::Medium)).horizontalAdvance(bo.name);
        int rightmost = 0;
        for (int x = 62; x < 150; ++x)
            for (int y = 0; y < 30; ++y)
                if (image.pixelColor(x, y).alpha() > 128 &&
                    !test::isNear(image.pixelColor(x, y), palette::green(), 30))
                    rightmost = std::max(rightmost, x);
        QVERIFY2(rightmost > 62 + nameWidth - 8,
                 qPrintable(QStringLiteral("%1 vs %2").arg(rightmost).arg(nameWidth)));
    }

    void gallery_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("compositing");
        QTest::newRow("empty team") << "team-empty" << true;
        QTest::newRow("three teammates") << "team-three" << true;
        QTest::newRow("ring card") << "team-ring" << true;
        QTest::newRow("disconnected") << "team-disconnected" << true;
        QTest::newRow("three teammates, no compositor") << "team-three-opaque" << false;
    }
    void gallery()
    {
        QFETCH(QString, name);
        QFETCH(bool, compositing);
        WindowRig w;
        w.compositing->compositing = compositing;
        const QImage grace(test::testDataPath(QStringLiteral("grace_hopper.jpg")));
        const QImage astronaut(test::testDataPath(QStringLiteral("astronaut.jpg")));
        const QImage chelsea(test::testDataPath(QStringLiteral("chelsea.jpg")));
        QVERIFY(!grace.isNull() && !astronaut.isNull() && !chelsea.isNull());
        auto small = [](const QImage& i) { return photoText(i.scaled(320, 320, Qt::KeepAspectRatio)); };
        if (name.startsWith(QLatin1String("team-three")) || name == QLatin1String("team-ring") ||
            name == QLatin1String("team-disconnected")) {
            RemoteUser ana = member("A", "Ana");
            ana.photo = small(astronaut);
            ana.status = QStringLiteral("Reviewing the new onboarding flow");
            RemoteUser bo = member("B", "Bo Lindqvist-Hargreaves");
            bo.photo = small(grace);
            bo.isInMeeting = true;
            bo.isMuted = true;
            bo.isUsingHeadphones = true;
            bo.idleState = QStringLiteral("semiIdle");
            bo.status = QStringLiteral("In a call");
            RemoteUser cy = member("C", "Cy");
            cy.photo = small(chelsea);
            cy.isPlayingAudio = true;
            cy.idleState = QStringLiteral("idle");
            RemoteUser di = member("D", "Di");
            di.isUsingHeadphones = true;
            di.isPlayingAudio = true;
            w.team({ana, bo, cy, di});
        } else {
            w.team({});
        }
        if (name == QLatin1String("team-disconnected")) {
            QTest::ignoreMessage(QtCriticalMsg, "WebSocket receive error: reset");
            QVERIFY(w.rig.sockets->latest()->failReceive(QStringLiteral("reset")));
        }
        if (name == QLatin1String("team-ring"))
            w.deliver(ringMessage(QStringLiteral("Bo Lindqvist-Hargreaves"), small(grace)));
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QImage image(w.window->size(), QImage::Format_ARGB32_Premultiplied);
        // On a light desktop, so the shadow and the panel's edge show.
        image.fill(QColor(0xd8, 0xdc, 0xe4));
        if (compositing) {
            w.window->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        } else {
            // Cut to its rounded shape: drawn in place, the desktop in its corners.
            QPainter painter(&image);
            painter.drawImage(QPoint(), test::grabWidget(*w.window));
        }
        QVERIFY(image.save(test::galleryFolder() + QLatin1Char('/') + name + QStringLiteral(".png")));
    }
};

PONDRA_VIEW_TEST_MAIN(TestTeamWindow)
#include "tst_teamwindow.moc"
