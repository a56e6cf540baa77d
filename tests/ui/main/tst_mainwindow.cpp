#include "ui/kit/FilledButton.h"
#include "ui/kit/Palette.h"
#include "ui/kit/RoundedLabel.h"
#include "ui/kit/WindowFinder.h"
#include "ui/main/ImageWindow.h"
#include "ui/main/MainPhotoView.h"
#include "ui/main/MainWindowModels.h"

#include "AppRig.h"
#include "ViewTesting.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>

#include <cmath>
#include <limits>

using namespace pondra;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(pondra::PresenceAction)

namespace {

QString dot()
{
    return QStringLiteral(" \u00b7 ");
}

/// The state on fakes and the main window over it; a stand-in settings window.
struct Rig
{
    test::AppRig core;
    std::unique_ptr<ImageWindow> window;

    Rig()
    {
        WindowRegistry::instance().setSettingsWindowFactory([] {
            auto* w = new QWidget;
            w->setWindowTitle(QStringLiteral("Pondra Settings"));
            return w;
        });
    }
    ~Rig()
    {
        window.reset();
        delete WindowRegistry::instance().settingsWindow();
        WindowRegistry::instance().setSettingsWindowFactory({});
    }

    AppState& app() { return *core.app; }
    CameraCapture& capture() { return core.app->cameraCapture(); }

    void build(bool withPlayer = false)
    {
        core.build(withPlayer);
        window = std::make_unique<ImageWindow>(*core.app);
    }
    void show()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    bool settingsShown() const
    {
        QWidget* settings = WindowRegistry::instance().settingsWindow();
        return settings && settings->isVisible();
    }
    int teamFetches() const
    {
        int n = 0;
        for (const auto& r : core.http->requests())
            n += r.method == "GET" && r.url.path() == QLatin1String("/pondra/teams") ? 1 : 0;
        return n;
    }
    /// Fetches the teams and answers every team request still open with `teams`.
    void answerTeams(const QStringList& teams)
    {
        core.app->fetchTeams();
        const QByteArray body = QJsonDocument(QJsonArray::fromStringList(teams)).toJson();
        auto& requests = core.http->requests();
        for (qsizetype i = 0; i < requests.size(); ++i) {
            if (requests[i].url.path() == QLatin1String("/pondra/teams") && requests[i].done)
                core.http->answer(i, 200, body);
        }
        core.scheduler.runPending();
    }
    /// A manual capture that ends without a photo.
    void failCapture()
    {
        core.camera->openError = QStringLiteral("unplugged");
        QTest::ignoreMessage(QtCriticalMsg, "Failed to setup camera: unplugged");
        capture().capturePondra(true);
        QVERIFY(capture().photoSkipped.get());
        core.camera->openError.clear();
    }
    /// Ends the capture that runs with one good frame.
    void finishCapture(int shade)
    {
        core.scheduler.advance(500ms);
        core.camera->lastSession->deliverFrame(test::detailedFrame(shade));
        core.scheduler.advance(1500ms);
        QTRY_VERIFY(!capture().isCapturing());
    }
    QStringList buttonLabels() const
    {
        QStringList out;
        for (QPushButton* b : window->presenceButtons())
            out << b->text();
        return out;
    }
};

} // namespace

class TestMainWindow final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void statusPill_data()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::addColumn<std::optional<QString>>("waiting");
        QTest::addColumn<bool>("present");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("colour");
        const QColor green = palette::green(), yellow = palette::yellow(), gray = palette::gray();
        const auto waiting = [](const QString& t) { return std::optional<QString>(t); };
        QTest::newRow("waiting text, present")
            << waiting("Checking with Bo...") << true << 0.0 << "Checking with Bo..." << yellow;
        QTest::newRow("waiting text, away and idle")
            << waiting("Maybe later!") << false << 4000.0 << "Maybe later!" << yellow;
        QTest::newRow("set but empty waiting text") << waiting("") << true << 0.0 << "" << yellow;
        for (const bool present : {true, false}) {
            const QString mode = present ? "Pondra" : "Away";
            const auto row = [&](const char* band, double s, const QString& word, const QColor& c) {
                QTest::newRow(qPrintable(mode + ", " + band)) << std::optional<QString>() << present << s
                                                              << mode + dot() + word << (present ? c : gray);
            };
            row("599.9 s", 599.9, "Active", green);
            row("600 s", 600, "Semi-idle", yellow);
            row("1799.9 s", 1799.9, "Semi-idle", yellow);
            row("1800 s", 1800, "Idle", gray);
            row("not a number", nan, "Idle", gray);
        }
    }
    void statusPill()
    {
        QFETCH(std::optional<QString>, waiting);
        QFETCH(bool, present);
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QFETCH(QColor, colour);
        const StatusPillModel pill = StatusPillModel::from(waiting, present, seconds);
        QCOMPARE(pill.text, text);
        QCOMPARE(pill.fill.rgb(), colour.rgb());
        QCOMPARE(pill.fill.alpha(), 51);
    }

    void headerByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("placeholder");
        QTest::newRow("no name") << ""
                                 << "Set up profile..." << true;
        QTest::newRow("name") << "Ana"
                              << "Ana" << false;
        QTest::newRow("blanks count as a name") << "  "
                                                << "  " << false;
    }
    void headerByName()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QFETCH(bool, placeholder);
        const MainHeaderModel header = MainHeaderModel::from(name);
        QCOMPARE(header.nameText, shown);
        QCOMPARE(header.isPlaceholder, placeholder);
        QCOMPARE(header.showsTeamPicker, !placeholder);
    }

    void buttonsByModeAndName_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<qint64>("autoRetake");
        QTest::addColumn<bool>("hasName");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QList<bool>>("enabled");
        QTest::newRow("present") << true << qint64(0) << true << QStringList{"Away", "Retake"}
                                 << QList{true, true};
        QTest::newRow("present, auto-retake")
            << true << qint64(1) << true << QStringList{"Away", "Retake*"} << QList{true, true};
        QTest::newRow("present without a name")
            << true << qint64(5) << false << QStringList{"Away", "Retake*"} << QList{true, true};
        QTest::newRow("away") << false << qint64(0) << true << QStringList{"I'm Pondra"} << QList{true};
        QTest::newRow("away without a name")
            << false << qint64(3) << false << QStringList{"I'm Pondra"} << QList{false};
    }
    void buttonsByModeAndName()
    {
        QFETCH(bool, present);
        QFETCH(qint64, autoRetake);
        QFETCH(bool, hasName);
        QFETCH(QStringList, labels);
        QFETCH(QList<bool>, enabled);
        const QList<PresenceButtonModel> buttons = presenceButtons(present, autoRetake, hasName);
        QCOMPARE(buttons.size(), labels.size());
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            QCOMPARE(buttons[i].label, labels[i]);
            QCOMPARE(buttons[i].enabled, enabled[i]);
            // "Away" is the one plain button; every other one captures.
            QCOMPARE(buttons[i].prominent, buttons[i].label != QLatin1String("Away"));
            QCOMPARE(buttons[i].action,
                     buttons[i].prominent ? PresenceAction::capture : PresenceAction::goAway);
        }
    }

    void badgeMarksAreIndependentAndOrdered()
    {
        QCOMPARE(photoBadgeMarks(false, false, false, false), QList<PhotoBadgeMark>());
        QCOMPARE(photoBadgeMarks(true, true, true, true),
                 (QList<PhotoBadgeMark>{{Glyph::videoFill, palette::green()},
                                        {Glyph::speakerSlashFill, palette::orange()},
                                        {Glyph::musicNote, palette::purple()},
                                        {Glyph::headphones, palette::blue()}}));
        // Muted and playing show together.
        QCOMPARE(photoBadgeMarks(false, true, true, false),
                 (QList<PhotoBadgeMark>{{Glyph::speakerSlashFill, palette::orange()},
                                        {Glyph::musicNote, palette::purple()}}));
    }

    void photoTimeFollowsLocaleAndZone_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("expected");
        QTest::newRow("C, UTC") << "C" << QByteArray("UTC") << "14:05";
        QTest::newRow("C, two hours east") << "C" << QByteArray("UTC+02:00") << "16:05";
        QTest::newRow("US English, 12-hour clock") << "en_US" << QByteArray("UTC") << "2:05 PM";
        QTest::newRow("German") << "de_DE" << QByteArray("UTC") << "14:05";
    }
    void photoTimeFollowsLocaleAndZone()
    {
        QFETCH(QString, locale);
        QFETCH(QByteArray, zone);
        QFETCH(QString, expected);
        const QDateTime moment(QDate(2026, 1, 5), QTime(14, 5, 42), Qt::UTC);
        QString text = photoTimeText(moment, QTimeZone(zone), QLocale(locale));
        text.replace(QChar(0x202f), QLatin1Char(' ')); // newer locale data has a narrow space before "PM"
        QCOMPARE(text, expected);
    }

    void windowIdentityAndClosing()
    {
        Rig rig;
        rig.build();
        ImageWindow& w = *rig.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("Pondra"));
        QCOMPARE(WindowFinder::findMainWindow(), &w);
        rig.show();
        QCOMPARE(w.centralWidget()->size(), QSize(300, 400));
        QPointer<ImageWindow> alive(&w);
        QVERIFY(w.close());
        QVERIFY(alive);
        QVERIFY(!w.isVisible());
        WindowFinder::showMainWindow();
        QVERIFY(w.isVisible());
        // The settings window never passes for the main window.
        WindowRegistry::instance().openSettings();
        QCOMPARE(WindowFinder::findMainWindow(), &w);
    }

    void pondraMenuHoldsTheSharedActions()
    {
        Rig rig;
        rig.build();
        QMenu* menu = rig.window->pondraMenu();
        QCOMPARE(menu->title(), QStringLiteral("Pondra"));
        const auto texts = [menu] {
            QStringList out;
            for (QAction* a : menu->actions())
                out << (a->isSeparator() ? QStringLiteral("-") : a->text());
            return out;
        };
        QCOMPARE(texts(), (QStringList{"Settings...", "-", "Quit Pondra"}));
        QCOMPARE(menu->actions().first(), WindowRegistry::instance().settingsAction());
        QCOMPARE(menu->actions().last(), WindowRegistry::instance().quitAction());

        QAction update(QStringLiteral("Check for Updates\u2026"));
        rig.window->setUpdateAction(&update);
        QCOMPARE(texts(), (QStringList{"Check for Updates\u2026", "-", "Settings...", "-", "Quit Pondra"}));
        QAction other(QStringLiteral("Other"));
        rig.window->setUpdateAction(&other);
        QCOMPARE(texts(), (QStringList{"Other", "-", "Settings...", "-", "Quit Pondra"}));

        // The shortcut works in the main window.
        rig.show();
        rig.window->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), rig.window.get());
        QTest::keyClick(rig.window.get(), Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(rig.settingsShown());
    }

    void headerFollowsTheName()
    {
        Rig rig;
        rig.core.store->remove(QStringLiteral("userName"));
        rig.build();
        rig.show();
        ImageWindow& w = *rig.window;
        QCOMPARE(w.nameLabel()->text(), QStringLiteral("Set up profile..."));
        QCOMPARE(w.nameLabel()->palette().color(QPalette::WindowText), palette::secondary(w.palette()));
        QVERIFY(!w.teamPicker()->isVisible());
        QCOMPARE(rig.buttonLabels(), QStringList{"I'm Pondra"});
        QVERIFY(!w.presenceButtons().first()->isEnabled());

        // Either form of the name opens the settings.
        QTest::mouseClick(w.nameLabel(), Qt::LeftButton);
        QVERIFY(rig.settingsShown());
        WindowRegistry::instance().settingsWindow()->hide();

        rig.app().setUserName(QStringLiteral("Ana"));
        QCOMPARE(w.nameLabel()->text(), QStringLiteral("Ana"));
        QCOMPARE(w.nameLabel()->palette().color(QPalette::WindowText), palette::primary(w.palette()));
        QVERIFY(w.teamPicker()->isVisible());
        QVERIFY(w.presenceButtons().first()->isEnabled());
        QTest::mouseClick(w.nameLabel(), Qt::LeftButton);
        QVERIFY(rig.settingsShown());
    }

    void teamPickerWritesOnlyTheUsersChoice()
    {
        Rig rig;
        rig.build();
        rig.show();
        QComboBox* picker = rig.window->teamPicker();
        // The stored team "Blue" is not among ["Default"]: no selection, nothing written.
        QCOMPARE(picker->count(), 1);
        QCOMPARE(picker->itemText(0), QStringLiteral("Default"));
        QCOMPARE(picker->currentIndex(), -1);

        int writes = 0;
        const Subscription watch =
            rig.app().teamName().subscribe(nullptr, skipFirst<QString>([&](const QString&) { ++writes; }));
        rig.answerTeams({"Red", "Blue", "Green"});
        QCOMPARE(picker->count(), 3);
        QCOMPARE(picker->itemText(2), QStringLiteral("Green"));
        QCOMPARE(picker->currentIndex(), 1);
        rig.answerTeams({"Red"});
        QCOMPARE(picker->currentIndex(), -1);
        QCOMPARE(writes, 0);
        QCOMPARE(rig.app().teamName().get(), QStringLiteral("Blue"));
        QCOMPARE(rig.core.store->text(QStringLiteral("teamName")), QStringLiteral("Blue"));

        // The user's choice writes.
        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_Down);
        QCOMPARE(writes, 1);
        QCOMPARE(rig.app().teamName().get(), QStringLiteral("Red"));
        QCOMPARE(picker->currentIndex(), 0);
    }

    void teamsAreFetchedWhenThePickerComesOnScreen()
    {
        Rig rig;
        rig.build();
        rig.core.scheduler.runPending();
        int expected = rig.teamFetches();
        rig.core.scheduler.runPending();
        QCOMPARE(rig.teamFetches(), expected); // not while hidden
        rig.show();
        QCOMPARE(rig.teamFetches(), ++expected);
        rig.app().setUserStatus(QStringLiteral("Lunch")); // a redraw is no new appearance
        QCOMPARE(rig.teamFetches(), expected);
        rig.window->hide();
        rig.show();
        QCOMPARE(rig.teamFetches(), ++expected);
        rig.app().setUserName(QString()); // the picker goes...
        QCOMPARE(rig.teamFetches(), expected);
        rig.app().setUserName(QStringLiteral("Bo")); // ...and comes back
        QCOMPARE(rig.teamFetches(), ++expected);
        rig.window->hide();
        rig.app().setUserName(QString());
        rig.app().setUserName(QStringLiteral("Ana"));
        QCOMPARE(rig.teamFetches(), expected);
    }

    void headphonesFollowTheCoreRule_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("mark");
        QTest::newRow("Bluetooth LE receiver") << "Bluetooth LE"
                                               << "Digital Hifi Audio" << false;
        QTest::newRow("Bluetooth headset") << "Bluetooth"
                                           << "Ana's Buds" << true;
        QTest::newRow("Bluetooth LE buds") << "Bluetooth LE"
                                           << "Buds" << true;
        QTest::newRow("USB headset") << "USB"
                                     << "Headset" << false;
    }
    void headphonesFollowTheCoreRule()
    {
        QFETCH(QString, transport);
        QFETCH(QString, name);
        QFETCH(bool, mark);
        Rig rig;
        rig.build();
        AudioOutputState output;
        output.name = name;
        output.transportType = transport;
        rig.core.audio->setOutput(output);
        rig.core.scheduler.advance(1s);
        QCOMPARE(rig.window->model().badge.contains(PhotoBadgeMark{Glyph::headphones, palette::blue()}),
                 mark);
    }

    void badgeShowsTheMonitorsState()
    {
        Rig rig;
        rig.build();
        QCOMPARE(rig.window->model().badge, QList<PhotoBadgeMark>());
        AudioOutputState output;
        output.name = QStringLiteral("Speakers");
        output.transportType = QStringLiteral("Built-in");
        output.isMuted = true;
        rig.core.audio->setOutput(output);
        rig.core.meeting->evidence.isCameraInUse = true;
        rig.core.meeting->evidence.runningApplications = {{100, QStringLiteral("zoom"), {}, false}};
        rig.core.scheduler.advance(2s);
        QCOMPARE(rig.window->model().badge,
                 (QList<PhotoBadgeMark>{{Glyph::videoFill, palette::green()},
                                        {Glyph::speakerSlashFill, palette::orange()}}));
        // The empty badge keeps its pane.
        output.isMuted = false;
        rig.core.audio->setOutput(output);
        rig.core.meeting->evidence = {};
        rig.core.scheduler.advance(2s);
        QCOMPARE(rig.window->model().badge, QList<PhotoBadgeMark>());
        rig.window->resize(300, 400);
        rig.show();
        const QRectF badge = rig.window->photoView()->badgeRect();
        QCOMPARE(badge.size(), QSizeF(12, 12));
    }

    void nowPlayingRowNeedsTheSettingAndATrack()
    {
        Rig rig;
        rig.build(true);
        rig.show();
        ImageWindow& w = *rig.window;
        rig.core.setNowPlaying(true, QStringLiteral("Song\nTwo"), QStringLiteral("Artist"));
        rig.core.scheduler.advance(NowPlayingMonitor::pollInterval);
        QTRY_VERIFY(rig.app().nowPlayingMonitor().isPlaying.get());
        // Off: no row, but the music mark all the same.
        QVERIFY(!w.nowPlayingRow()->isVisible());
        QVERIFY(w.model().badge.contains(PhotoBadgeMark{Glyph::musicNote, palette::purple()}));
        rig.app().setIncludeNowPlaying(true);
        QVERIFY(w.nowPlayingRow()->isVisible());
        QCOMPARE(w.nowPlayingRow()->text(), QStringLiteral("Artist - Song Two")); // one plain line
        QCOMPARE(w.nowPlayingRow()->textFormat(), Qt::PlainText);

        rig.core.setNowPlaying(false, {}, {});
        rig.core.scheduler.advance(NowPlayingMonitor::pollInterval);
        QTRY_VERIFY(!rig.app().nowPlayingMonitor().isPlaying.get());
        QVERIFY(!w.nowPlayingRow()->isVisible());
    }

    void statusLineOpensTheEditor()
    {
        Rig rig;
        rig.build();
        rig.show();
        ImageWindow& w = *rig.window;
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Set a status..."));
        QCOMPARE(w.statusLine()->palette().color(QPalette::WindowText), palette::secondary(w.palette()));
        QVERIFY(!w.statusEditor());
        QTest::mouseClick(w.statusLine(), Qt::LeftButton);
        QVERIFY(w.statusEditor());
        QVERIFY(w.statusEditor()->isVisible());
        QCOMPARE(w.statusEditor()->parentWidget(), &w);
        QCOMPARE(w.statusEditor()->windowTitle(), QStringLiteral("Set Your Status"));
        w.statusEditor()->close();

        rig.app().setUserStatus(QStringLiteral("<b>Deep</b> work"));
        QCOMPARE(w.statusLine()->text(), QStringLiteral("<b>Deep</b> work"));
        QCOMPARE(w.statusLine()->textFormat(), Qt::PlainText);
        QCOMPARE(w.statusLine()->palette().color(QPalette::WindowText), palette::primary(w.palette()));
    }

    void pillShowsTheWaitingText()
    {
        Rig rig;
        rig.build();
        rig.show();
        RoundedLabel* pill = rig.window->statusPill();
        QCOMPARE(pill->text(), "Away" + dot() + "Active");
        rig.app().sendRing(QStringLiteral("Bo"));
        rig.core.scheduler.runPending();
        QCOMPARE(pill->text(), QStringLiteral("Checking with Bo..."));
        QCOMPARE(pill->fill(), palette::withOpacity(palette::yellow(), 0.2));
        rig.core.idle->reading = 700;
        rig.core.scheduler.advance(1s);
        QCOMPARE(pill->text(), QStringLiteral("Checking with Bo..."));

        // Declined: "Maybe later!" for 3 s, then the mode and level again.
        QVERIFY(rig.core.sockets->latest()->deliverText(
            QStringLiteral(R"({"type":"ring-response","from":"Bo","to":"Ana","accepted":false})")));
        QCOMPARE(pill->text(), QStringLiteral("Maybe later!"));
        rig.core.scheduler.advance(3s);
        QCOMPARE(pill->text(), "Away" + dot() + "Semi-idle");
        QCOMPARE(pill->fill(), palette::withOpacity(palette::gray(), 0.2));
    }

    /// A desktop switched to dark while the program runs: every text takes
    /// the new colours, the quiet ones included.
    void textColoursFollowAPaletteChange()
    {
        Rig rig;
        rig.build();
        rig.show();
        ImageWindow& w = *rig.window;
        test::acrossADarkSwitch(w, [&w] {
            const QImage image = test::grabWidget(w);
            const QColor primary = palette::primary(w.palette());
            const QColor secondary = palette::secondary(w.palette());
            const QList<std::pair<QLabel*, QColor>> texts{
                {w.nameLabel(), primary}, {w.statusPill(), secondary}, {w.statusLine(), secondary}};
            for (const auto& [label, colour] : texts) {
                QString seen;
                QVERIFY2(test::hasTextColour(image, test::areaIn(w, *label), colour, &seen),
                         qPrintable(label->text() + ": " + seen));
            }
        });
    }

    void buttonsActWithoutADefault()
    {
        Rig rig;
        rig.build();
        rig.show();
        rig.core.capture();
        QCOMPARE(rig.buttonLabels(), (QStringList{"Away", "Retake"}));
        rig.app().setAutoRetakeMinutes(2);
        QCOMPARE(rig.buttonLabels(), (QStringList{"Away", "Retake*"}));

        // Enter on the focused button starts nothing.
        QPushButton* retake = rig.window->presenceButtons().at(1);
        QVERIFY(!retake->isDefault() && !retake->autoDefault());
        retake->setFocus();
        QTest::keyClick(retake, Qt::Key_Return);
        QTest::keyClick(retake, Qt::Key_Enter);
        QVERIFY(!rig.capture().isCapturing());

        QTest::mouseClick(retake, Qt::LeftButton);
        QVERIFY(rig.capture().isCapturing());
        rig.finishCapture(90);

        QTest::mouseClick(rig.window->presenceButtons().at(0), Qt::LeftButton);
        QVERIFY(!rig.capture().isPondraMode.get());
        QCOMPARE(rig.buttonLabels(), QStringList{"I'm Pondra"});
        QTest::mouseClick(rig.window->presenceButtons().at(0), Qt::LeftButton);
        QVERIFY(rig.capture().isCapturing());
        rig.finishCapture(60);
        QCOMPARE(rig.buttonLabels(), (QStringList{"Away", "Retake*"}));
    }

    /// The row is made anew when it changes, mostly from a press on one of
    /// its own buttons; a keyboard user keeps the focus in the same place.
    void keyboardFocusStaysInTheButtonRow()
    {
        Rig rig;
        rig.build();
        rig.show();
        rig.window->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), rig.window.get());
        rig.core.capture();
        const auto pressSpace = [&rig](qsizetype index) {
            QPushButton* button = rig.window->presenceButtons().at(index);
            button->setFocus();
            QTest::keyClick(button, Qt::Key_Space);
        };
        const auto focusedLabel = [] {
            auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget());
            return button ? button->text() : QStringLiteral("<no button has the focus>");
        };

        pressSpace(0);
        QVERIFY(!rig.capture().isPondraMode.get());
        QCOMPARE(rig.buttonLabels(), QStringList{"I'm Pondra"});
        QCOMPARE(QApplication::focusWidget(), rig.window->presenceButtons().at(0));

        // A capture turning present: the first button of the pair.
        pressSpace(0);
        QVERIFY(rig.capture().isCapturing());
        rig.finishCapture(80);
        QCOMPARE(rig.buttonLabels(), (QStringList{"Away", "Retake"}));
        QCOMPARE(focusedLabel(), QStringLiteral("Away"));
        QCOMPARE(QApplication::focusWidget(), rig.window->presenceButtons().at(0));

        // The label changing under the focused button.
        rig.window->presenceButtons().at(1)->setFocus();
        rig.app().setAutoRetakeMinutes(3);
        QCOMPARE(focusedLabel(), QStringLiteral("Retake*"));
        QCOMPARE(QApplication::focusWidget(), rig.window->presenceButtons().at(1));
        // The rows made on the way never widened the window.
        QCOMPARE(rig.window->centralWidget()->width(), ImageWindow::contentWidth);
    }

    void teamPickerIgnoresTheWheel()
    {
        Rig rig;
        rig.build();
        rig.show();
        rig.answerTeams({"Red", "Blue", "Green"});
        rig.core.settle();
        QComboBox* picker = rig.window->teamPicker();
        QCOMPARE(picker->currentText(), QStringLiteral("Blue"));
        const qsizetype requests = rig.core.http->requests().size();
        const qsizetype sent = rig.core.sockets->latest()->sentTexts().size();
        QPushButton* focused = rig.window->presenceButtons().at(0);
        focused->setFocus();

        for (const int notches : {-1, 1, 2})
            QVERIFY(test::turnWheel(*picker, notches)); // it goes on to what is around the picker
        rig.core.settle();
        QCOMPARE(picker->currentText(), QStringLiteral("Blue"));
        QCOMPARE(rig.window->focusWidget(), focused); // nor does the wheel take the focus
        QCOMPARE(rig.app().teamName().get(), QStringLiteral("Blue"));
        QCOMPARE(rig.core.store->text(QStringLiteral("teamName")), QStringLiteral("Blue"));
        QCOMPARE(rig.core.http->requests().size(), requests);
        QCOMPARE(rig.core.sockets->latest()->sentTexts().size(), sent);
    }

    void settingsRequestIsTakenBackThenCarriedOut()
    {
        Rig rig;
        rig.core.store->remove(QStringLiteral("userName"));
        rig.build();
        rig.show();
        // The request is taken back before the settings are made.
        QList<bool> requestWhenOpened;
        WindowRegistry::instance().setSettingsWindowFactory([&] {
            requestWhenOpened << rig.app().shouldOpenSettings.get();
            return new QWidget;
        });
        rig.app().checkEmailOnStartup();
        rig.core.scheduler.advance(499ms);
        QVERIFY(!rig.settingsShown());
        rig.core.scheduler.advance(1ms);
        QVERIFY(rig.settingsShown());
        QCOMPARE(requestWhenOpened, QList<bool>{false});
        QVERIFY(!rig.app().shouldOpenSettings.get());
        // A change to false does nothing.
        WindowRegistry::instance().settingsWindow()->hide();
        rig.app().setShouldOpenSettings(false);
        QVERIFY(!rig.settingsShown());
    }

    void settingsRequestRaisedBeforeTheWindowWaits()
    {
        Rig rig;
        rig.core.build();
        rig.app().setShouldOpenSettings(true);
        rig.window = std::make_unique<ImageWindow>(rig.app());
        rig.show();
        QVERIFY(!rig.settingsShown());
        QVERIFY(rig.app().shouldOpenSettings.get());
        rig.app().setShouldOpenSettings(true); // no change
        QVERIFY(!rig.settingsShown());
        rig.app().setShouldOpenSettings(false);
        rig.app().setShouldOpenSettings(true);
        QVERIFY(rig.settingsShown());
        QVERIFY(!rig.app().shouldOpenSettings.get());
    }

    void badPhotoNoticeClearsAfterTwoSeconds()
    {
        Rig rig;
        rig.build();
        rig.show();
        MainPhotoView* photo = rig.window->photoView();
        rig.failCapture();
        QCOMPARE(photo->noticeOpacity(), 1.0);
        QVERIFY(rig.window->model().showsBadPhotoNotice);
        rig.core.scheduler.advance(1999ms);
        QVERIFY(rig.capture().photoSkipped.get());
        rig.core.scheduler.advance(1ms);
        QVERIFY(!rig.capture().photoSkipped.get());
        // It fades out on the scheduler, then nothing is left running for it.
        rig.core.scheduler.advance(150ms);
        QVERIFY(photo->noticeOpacity() > 0 && photo->noticeOpacity() < 1);
        rig.core.scheduler.advance(ImageWindow::noticeFade);
        QCOMPARE(photo->noticeOpacity(), 0.0);
        const int pending = rig.core.scheduler.pendingCount();
        rig.core.scheduler.advance(1s);
        QVERIFY(rig.core.scheduler.pendingCount() <= pending);
    }

    void badPhotoNoticeWaitsForTheWindow()
    {
        Rig rig;
        rig.build();
        rig.failCapture();
        rig.core.scheduler.advance(10s);
        QVERIFY(rig.capture().photoSkipped.get()); // nothing scheduled while hidden
        rig.show();
        rig.core.scheduler.advance(1999ms);
        QVERIFY(rig.capture().photoSkipped.get());
        rig.core.scheduler.advance(1ms);
        QVERIFY(!rig.capture().photoSkipped.get());

        // Hidden again after it appeared: its clearing still runs.
        rig.failCapture();
        rig.window->hide();
        rig.core.scheduler.advance(2s);
        QVERIFY(!rig.capture().photoSkipped.get());
    }

    void earlierClearingMayEndALaterNotice()
    {
        Rig rig;
        rig.build();
        rig.show();
        rig.failCapture();
        rig.core.scheduler.advance(1500ms);
        rig.failCapture(); // the capture's start cleared the flag: a new appearance
        QCOMPARE(rig.window->photoView()->noticeOpacity(), 1.0);
        rig.core.scheduler.advance(500ms);
        QVERIFY(!rig.capture().photoSkipped.get()); // the first clearing ends the second notice
        rig.failCapture();
        rig.core.scheduler.advance(1500ms);
        // The second clearing, at 3.5 s, ends the third notice after 1.5 s.
        QVERIFY(!rig.capture().photoSkipped.get());
    }

    void captureStartRemovesTheNoticeAtOnce()
    {
        Rig rig;
        rig.build();
        rig.show();
        rig.failCapture();
        rig.capture().capturePondra(true);
        QCOMPARE(rig.window->photoView()->noticeOpacity(), 0.0);
        rig.core.scheduler.advance(500ms);
        rig.core.camera->lastSession->deliverFrame(test::detailedFrame(70));
        rig.core.scheduler.advance(1500ms);
        QTRY_VERIFY(!rig.capture().isCapturing());
    }

    void pixelsOfThePhotoAndItsMarks()
    {
        Rig rig;
        rig.build();
        rig.show();
        rig.core.capture();
        rig.failCapture();
        AudioOutputState output;
        output.name = QStringLiteral("Buds");
        output.transportType = QStringLiteral("Bluetooth");
        output.isMuted = true;
        rig.core.audio->setOutput(output);
        rig.core.scheduler.advance(1s);
        MainPhotoView* view = rig.window->photoView();
        QCOMPARE(view->squareRect().size(), QSizeF(200, 200));
        const QImage image = test::grabWidget(*view);
        // The badge: muted (orange) then headphones (blue), each 14 px after 6 px of padding.
        const QRectF badge = view->badgeRect();
        QCOMPARE(badge.size(), QSizeF(2 * 14 + 6 + 12, 26));
        QCOMPARE(badge.topRight(), view->squareRect().topRight() + QPointF(-8, 8));
        const auto hasColour = [&image](const QRectF& area, const QColor& colour) {
            for (int y = int(area.top()); y < int(area.bottom()); ++y)
                for (int x = int(area.left()); x < int(area.right()); ++x)
                    if (image.pixelColor(x, y).rgb() == colour.rgb())
                        return true;
            return false;
        };
        QVERIFY(hasColour(QRectF(badge.left() + 6, badge.top() + 6, 14, 14), palette::orange()));
        QVERIFY(hasColour(QRectF(badge.left() + 26, badge.top() + 6, 14, 14), palette::blue()));
        // The time at the bottom right, the notice in the middle.
        QVERIFY(!view->timeRect().isEmpty());
        QCOMPARE(view->timeRect().bottomRight(), view->squareRect().bottomRight() - QPointF(8, 8));
        QCOMPARE(view->noticeRect().center(), view->squareRect().center());
        const QPoint noticeEdge =
            (view->noticeRect().topLeft() + QPointF(3, view->noticeRect().height() / 2)).toPoint();
        const QColor red = image.pixelColor(noticeEdge);
        QVERIFY2(red.red() > 200 && red.green() < 120, qPrintable(red.name()));
        // The rounded corners of the square are cut.
        const QPoint corner = view->squareRect().topLeft().toPoint();
        QCOMPARE(image.pixelColor(corner), image.pixelColor(corner - QPoint(1, 0)));
        QVERIFY(image.pixelColor(corner) != image.pixelColor(corner + QPoint(8, 8)));
    }

    void gallery()
    {
        const auto save = [](ImageWindow& w, const QString& name) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            w.resize(w.sizeHint().expandedTo(w.size()));
            QVERIFY(test::grabWidget(w).save(test::galleryFolder() + "/" + name));
        };
        {
            Rig rig;
            rig.core.store->remove(QStringLiteral("userName"));
            rig.build();
            rig.show();
            save(*rig.window, QStringLiteral("main-no-name-away.png"));
        }
        {
            Rig rig;
            rig.core.store->setText(QStringLiteral("userStatus"), QStringLiteral("Deep work until 3"));
            rig.core.store->setFlag(QStringLiteral("includeNowPlaying"), true);
            rig.core.meeting->evidence.isCameraInUse = true;
            rig.core.meeting->evidence.runningApplications = {{100, QStringLiteral("zoom"), {}, false}};
            AudioOutputState output;
            output.name = QStringLiteral("Buds");
            output.transportType = QStringLiteral("Bluetooth");
            output.isMuted = true;
            rig.core.audio->setOutput(output);
            rig.build(true);
            rig.show();
            rig.core.setNowPlaying(true, QStringLiteral("Blue in Green"), QStringLiteral("Miles Davis"));
            // A real portrait (the face analysis is a fake: the photo is cropped about its middle).
            rig.capture().capturePondra(true);
            rig.core.scheduler.advance(500ms);
            rig.core.camera->lastSession->deliverFrame(
                QImage(qEnvironmentVariable("PONDRA_SOURCE_DIR") + "/tests/data/grace_hopper.jpg"));
            rig.core.scheduler.advance(1500ms);
            QTRY_VERIFY(!rig.capture().isCapturing());
            rig.core.scheduler.advance(NowPlayingMonitor::pollInterval);
            QTRY_VERIFY(rig.app().nowPlayingMonitor().isPlaying.get());
            rig.answerTeams({"Red", "Blue"});
            QCOMPARE(rig.window->model().badge.size(), 4);
            QVERIFY(rig.window->model().photoTime);
            QVERIFY(rig.window->nowPlayingRow()->isVisible());
            save(*rig.window, QStringLiteral("main-present-every-mark.png"));

            rig.app().sendRing(QStringLiteral("Bo"));
            rig.core.scheduler.runPending();
            save(*rig.window, QStringLiteral("main-waiting.png"));

            rig.failCapture();
            save(*rig.window, QStringLiteral("main-bad-photo.png"));
        }
    }
};

PONDRA_VIEW_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
