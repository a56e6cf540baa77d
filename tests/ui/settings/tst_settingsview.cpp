#include "ui/kit/ChoiceBox.h"
#include "ui/kit/Palette.h"
#include "ui/kit/WindowFinder.h"
#include "ui/settings/SettingsView.h"

#include "AppRig.h"
#include "ViewTesting.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

/// Every value written to one published setting after the watch began.
template <typename T> struct Writes
{
    QList<T> values;
    Subscription subscription;

    explicit Writes(const ReadOnly<T>& value)
        : subscription(value.subscribe(nullptr, skipFirst<T>([this](const T& v) { values << v; })))
    {
    }
};

/// The state on fakes with stored settings, and its settings window.
struct Rig
{
    test::AppRig core;

    Rig()
    {
        core.store->setText(QStringLiteral("userEmail"), QStringLiteral("ana@example.org"));
        core.store->setText(QStringLiteral("serverBaseURL"), QStringLiteral("pondra.example.org"));
        core.store->setText(QStringLiteral("apiToken"), QStringLiteral("secret-token"));
        core.build();
        installSettingsWindow(*core.app);
    }
    ~Rig()
    {
        delete WindowRegistry::instance().settingsWindow();
        WindowRegistry::instance().setSettingsWindowFactory({});
    }

    AppState& app() { return *core.app; }
    SettingsView& open()
    {
        WindowRegistry::instance().openSettings();
        auto* view = qobject_cast<SettingsView*>(WindowRegistry::instance().settingsWindow());
        Q_ASSERT(view);
        return *view;
    }
    /// Requests that rebuild the connection (each one first fetches the teams).
    int teamFetches() const
    {
        int n = 0;
        for (const auto& r : core.http->requests())
            n += r.url.path() == QLatin1String("/pondra/teams") ? 1 : 0;
        return n;
    }
};

void typeInto(QLineEdit* field, const QString& text)
{
    field->setFocus();
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    else
        QTest::keyClicks(field, text);
}

} // namespace

class TestSettingsView final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneInstanceTitledAndSized()
    {
        Rig rig;
        QCOMPARE(WindowRegistry::instance().settingsWindow(), nullptr);
        SettingsView& view = rig.open();
        QCOMPARE(view.windowTitle(), QStringLiteral("Pondra Settings"));
        QCOMPARE(view.size(), QSize(400, 380));
        QCOMPARE(view.minimumSize(), view.maximumSize());
        QVERIFY(!view.isModal());
        QVERIFY(view.isVisible());
        QCOMPARE(&rig.open(), &view);
        QCOMPARE(WindowFinder::findMainWindow(), nullptr);
        // The groups sit in a scroll area, in this order.
        QVERIFY(view.findChild<QScrollArea*>());
        QStringList groups;
        for (QGroupBox* box : view.findChildren<QGroupBox*>())
            groups << box->title();
        QCOMPARE(groups, (QStringList{"Profile", "Server", "Camera"}));
        QCOMPARE(view.bestPhotoBox()->text(), QStringLiteral("Best Photo (burst mode)"));
        QCOMPARE(view.bestPhotoBox()->toolTip(),
                 QStringLiteral("Captures multiple frames and picks the best one. Turn off for faster "
                                "single-frame capture."));
    }

    void loadShowsTheStoredValuesAndWritesNothing()
    {
        Rig rig;
        rig.core.store->setText(QStringLiteral("selectedCameraId"), QStringLiteral("cam-1"));
        rig.core.store->setFlag(QStringLiteral("useBestPhoto"), false);
        rig.app().setAutoRetakeMinutes(2);
        rig.core.scheduler.runPending();
        Writes<QString> names(rig.app().userName()), emails(rig.app().userEmail()),
            urls(rig.app().serverBaseURL()), tokens(rig.app().apiToken()), teams(rig.app().teamName());
        Writes<qint64> minutes(rig.app().autoRetakeMinutes());
        const int fetches = rig.teamFetches();
        const QString storeBefore = [&] {
            QFile f(rig.core.store->filePath());
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        }();

        SettingsView& view = rig.open();
        rig.core.scheduler.runPending();
        QCOMPARE(view.nameField()->text(), QStringLiteral("Ana"));
        QCOMPARE(view.emailField()->text(), QStringLiteral("ana@example.org"));
        QCOMPARE(view.serverURLField()->text(), QStringLiteral("pondra.example.org"));
        QCOMPARE(view.apiTokenField()->text(), QStringLiteral("secret-token"));
        QCOMPARE(view.apiTokenField()->echoMode(), QLineEdit::Password);
        QCOMPARE(view.cameraPicker()->count(), 2);
        QCOMPARE(view.cameraPicker()->itemText(0), QStringLiteral("Default"));
        QCOMPARE(view.cameraPicker()->currentText(), QStringLiteral("Built-in Camera"));
        QVERIFY(!view.bestPhotoBox()->isChecked());
        QCOMPARE(view.autoRetakePicker()->currentText(), QStringLiteral("Every 2 minutes"));

        for (const auto* w : {&names, &emails, &urls, &tokens, &teams})
            QCOMPARE(w->values, QStringList());
        QCOMPARE(minutes.values, QList<qint64>());
        QCOMPARE(rig.teamFetches(), fetches);
        QFile f(rig.core.store->filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), storeBefore);
    }

    void choicesWithNoEntryShowNoSelection()
    {
        Rig rig;
        rig.core.store->setText(QStringLiteral("selectedCameraId"), QStringLiteral("unplugged"));
        rig.app().setAutoRetakeMinutes(4);
        SettingsView& view = rig.open();
        QCOMPARE(view.cameraPicker()->currentIndex(), -1);
        QCOMPARE(view.autoRetakePicker()->currentIndex(), -1);
        QStringList entries;
        for (int i = 0; i < view.autoRetakePicker()->count(); ++i)
            entries << view.autoRetakePicker()->itemText(i);
        QCOMPARE(entries, (QStringList{"Never", "Every 1 minute", "Every 2 minutes", "Every 3 minutes",
                                       "Every 5 minutes"}));
        QCOMPARE(rig.app().cameraCapture().selectedCameraId(), QStringLiteral("unplugged"));
        QCOMPARE(rig.app().autoRetakeMinutes().get(), 4);

        // A camera plugged in later is listed at the next look; still nothing written.
        rig.core.camera->list.append({QStringLiteral("cam-2"), QStringLiteral("USB Camera")});
        rig.app().cameraCapture().refreshCameraList();
        QCOMPARE(view.cameraPicker()->count(), 3);
        QCOMPARE(view.cameraPicker()->currentIndex(), -1);

        // The user's choices write, the default camera as the empty id.
        view.cameraPicker()->setFocus();
        QTest::keyClick(view.cameraPicker(), Qt::Key_Down);
        QCOMPARE(view.cameraPicker()->currentText(), QStringLiteral("Default"));
        QCOMPARE(rig.core.store->text(QStringLiteral("selectedCameraId")), QString(""));
        view.autoRetakePicker()->setFocus();
        QTest::keyClick(view.autoRetakePicker(), Qt::Key_Down);
        QCOMPARE(rig.app().autoRetakeMinutes().get(), 0);
        // Shown live: a change made elsewhere shows while the window is open.
        rig.app().setAutoRetakeMinutes(5);
        QCOMPARE(view.autoRetakePicker()->currentText(), QStringLiteral("Every 5 minutes"));
        // With no camera attached only "Default" is left.
        rig.core.camera->list.clear();
        rig.app().cameraCapture().refreshCameraList();
        QCOMPARE(view.cameraPicker()->count(), 1);
    }

    void pickersIgnoreTheWheel()
    {
        Rig rig;
        rig.core.camera->list.append({QStringLiteral("cam-2"), QStringLiteral("USB Camera")});
        rig.core.store->setText(QStringLiteral("selectedCameraId"), QStringLiteral("cam-1"));
        rig.app().setAutoRetakeMinutes(2);
        SettingsView& view = rig.open();
        rig.core.settle();
        const QString storeBefore = [&] {
            QFile f(rig.core.store->filePath());
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        }();
        const qsizetype requests = rig.core.http->requests().size();
        Writes<qint64> minutes(rig.app().autoRetakeMinutes());
        view.nameField()->setFocus();

        for (QComboBox* picker : QList<QComboBox*>{view.cameraPicker(), view.autoRetakePicker()}) {
            const QString shown = picker->currentText();
            for (const int notches : {-1, -1, 1, 3})
                QVERIFY(test::turnWheel(*picker, notches)); // on to the scrolling form around it
            QCOMPARE(picker->currentText(), shown);
        }
        rig.core.settle();
        QCOMPARE(view.focusWidget(), view.nameField());
        QCOMPARE(rig.app().cameraCapture().selectedCameraId(), QStringLiteral("cam-1"));
        QCOMPARE(minutes.values, QList<qint64>());
        QCOMPARE(rig.core.http->requests().size(), requests);
        QFile f(rig.core.store->filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), storeBefore);
    }

    void quietTextsFollowAPaletteChange()
    {
        Rig rig;
        SettingsView& view = rig.open();
        QLabel* caption = nullptr;
        for (QLabel* label : view.findChildren<QLabel*>())
            if (label->text().startsWith(QLatin1String("localhost uses")))
                caption = label;
        QVERIFY(caption);
        test::acrossADarkSwitch(view, [&view, caption] {
            const QColor secondary = palette::secondary(view.palette());
            QString seen;
            QVERIFY2(
                test::hasTextColour(test::grabWidget(view), test::areaIn(view, *caption), secondary, &seen),
                qPrintable(seen));
            // The eye is drawn in the same quiet colour.
            const QImage eye = view.tokenVisibilityButton()->icon().pixmap(16).toImage();
            QColor strongest(Qt::transparent);
            for (int y = 0; y < eye.height(); ++y)
                for (int x = 0; x < eye.width(); ++x)
                    if (eye.pixelColor(x, y).alpha() > strongest.alpha())
                        strongest = eye.pixelColor(x, y);
            QVERIFY2(test::isNear(strongest, secondary, 4), qPrintable(strongest.name()));
        });
    }

    void burstToggleWritesAtOnce()
    {
        Rig rig;
        SettingsView& view = rig.open();
        QVERIFY(view.bestPhotoBox()->isChecked()); // nothing stored: on
        QTest::mouseClick(view.bestPhotoBox(), Qt::LeftButton);
        QCOMPARE(rig.core.store->flag(QStringLiteral("useBestPhoto")), std::optional<bool>(false));
        QVERIFY(!rig.app().cameraCapture().useBestPhoto());
    }

    void nameAndEmailAreWrittenPerKeystroke()
    {
        Rig rig;
        SettingsView& view = rig.open();
        Writes<QString> names(rig.app().userName()), emails(rig.app().userEmail());
        typeInto(view.nameField(), QStringLiteral("Bo"));
        QCOMPARE(names.values, (QStringList{"B", "Bo"}));
        QTest::keyClick(view.nameField(), Qt::Key_Backspace);
        QTest::keyClick(view.nameField(), Qt::Key_Backspace);
        // Emptying the name writes nothing: the one-letter prefix stays.
        QCOMPARE(names.values, (QStringList{"B", "Bo", "B"}));
        QCOMPARE(rig.app().userName().get(), QStringLiteral("B"));
        typeInto(view.nameField(), QStringLiteral("  "));
        QCOMPARE(rig.app().userName().get(), QStringLiteral("  "));

        typeInto(view.emailField(), QString());
        QCOMPARE(emails.values, QStringList{""});
        QCOMPARE(rig.core.store->text(QStringLiteral("userEmail")), QString(""));
    }

    void serverFieldsAreCommittedWhenEditingFinishes_data()
    {
        QTest::addColumn<bool>("tokenField");
        QTest::addColumn<QString>("moment");
        for (const bool token : {false, true}) {
            for (const char* moment : {"Enter", "focus out", "hide", "close"}) {
                const QString name = QString(token ? "token, " : "address, ") + moment;
                QTest::newRow(qPrintable(name)) << token << QString(moment);
            }
        }
    }
    void serverFieldsAreCommittedWhenEditingFinishes()
    {
        QFETCH(bool, tokenField);
        QFETCH(QString, moment);
        Rig rig;
        SettingsView& view = rig.open();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &view);
        Writes<QString> urls(rig.app().serverBaseURL()), tokens(rig.app().apiToken());
        QLineEdit* field = tokenField ? view.apiTokenField() : view.serverURLField();
        Writes<QString>& writes = tokenField ? tokens : urls;
        const QString typed = tokenField ? QStringLiteral("new-token") : QStringLiteral("localhost:8787");

        typeInto(field, typed);
        QCOMPARE(writes.values, QStringList()); // nothing while typing
        const auto finish = [&] {
            if (moment == QLatin1String("Enter"))
                QTest::keyClick(field, Qt::Key_Return);
            else if (moment == QLatin1String("focus out"))
                view.nameField()->setFocus();
            else if (moment == QLatin1String("hide"))
                view.hide();
            else
                view.close();
        };
        finish();
        QCOMPARE(writes.values, QStringList{typed});
        QCOMPARE(urls.values.size() + tokens.values.size(), 1);
        QCOMPARE(
            rig.core.store->text(tokenField ? QStringLiteral("apiToken") : QStringLiteral("serverBaseURL")),
            typed);

        // Unchanged since: no second write at the next commit moment.
        if (!view.isVisible())
            rig.open();
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        view.hide();
        QCOMPARE(writes.values, QStringList{typed});
    }

    void serverFieldsWriteOnlyWhatChanged()
    {
        Rig rig;
        SettingsView& view = rig.open();
        Writes<QString> urls(rig.app().serverBaseURL()), tokens(rig.app().apiToken());
        const int fetches = rig.teamFetches();
        // Typed and typed back: the same text as loaded is not written.
        typeInto(view.serverURLField(), QStringLiteral("pondra.example.or"));
        QTest::keyClick(view.serverURLField(), Qt::Key_G);
        QTest::keyClick(view.serverURLField(), Qt::Key_Return);
        // An empty address is never written.
        typeInto(view.serverURLField(), QString());
        QTest::keyClick(view.serverURLField(), Qt::Key_Return);
        view.hide();
        QCOMPARE(urls.values, QStringList());
        QCOMPARE(rig.app().serverBaseURL().get(), QStringLiteral("pondra.example.org"));
        // Reopened, the field shows the stored address again; an empty token is written.
        rig.open();
        QCOMPARE(view.serverURLField()->text(), QStringLiteral("pondra.example.org"));
        typeInto(view.apiTokenField(), QString());
        QTest::keyClick(view.apiTokenField(), Qt::Key_Return);
        QCOMPARE(tokens.values, QStringList{""});
        QCOMPARE(urls.values, QStringList());
        rig.core.scheduler.advance(NetworkClient::forcedReconnectDelay);
        QCOMPARE(rig.teamFetches(), fetches + 1); // one reconnect, for the token
    }

    void fieldsLoadOnlyWhenShownFromHidden()
    {
        Rig rig;
        SettingsView& view = rig.open();
        typeInto(view.serverURLField(), QStringLiteral("half.typ"));
        rig.app().setUserEmail(QStringLiteral("other@example.org"));
        // Raising the open window keeps what is typed and reloads nothing.
        rig.open();
        QCOMPARE(view.serverURLField()->text(), QStringLiteral("half.typ"));
        QCOMPARE(view.emailField()->text(), QStringLiteral("ana@example.org"));
        view.close();
        rig.open();
        QCOMPARE(view.emailField()->text(), QStringLiteral("other@example.org"));
        QCOMPARE(view.serverURLField()->text(), QStringLiteral("half.typ")); // committed when hidden
        QCOMPARE(view.apiTokenField()->echoMode(), QLineEdit::Password);
    }

    void eyeButtonTogglesOnlyTheView()
    {
        Rig rig;
        SettingsView& view = rig.open();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &view);
        Writes<QString> tokens(rig.app().apiToken());
        QToolButton* eye = view.tokenVisibilityButton();
        // The keyboard reaches it with Tab; a click does not move the focus.
        QCOMPARE(eye->focusPolicy(), Qt::TabFocus);
        typeInto(view.apiTokenField(), QStringLiteral("typed"));
        QTest::mouseClick(eye, Qt::LeftButton);
        QVERIFY(view.isTokenShown());
        QCOMPARE(view.apiTokenField()->echoMode(), QLineEdit::Normal);
        // The click did not end the edit: the field keeps the focus and nothing is written.
        QVERIFY(view.apiTokenField()->hasFocus());
        QTest::mouseClick(eye, Qt::LeftButton);
        QVERIFY(!view.isTokenShown());
        QCOMPARE(view.apiTokenField()->text(), QStringLiteral("typed"));
        QCOMPARE(tokens.values, QStringList());
        QTest::keyClick(view.apiTokenField(), Qt::Key_Return);
        QCOMPARE(tokens.values, QStringList{"typed"});
        // Shown, closed and opened again: masked again.
        QTest::mouseClick(eye, Qt::LeftButton);
        view.close();
        rig.open();
        QVERIFY(!view.isTokenShown());
    }

    void gallery()
    {
        Rig rig;
        rig.core.camera->list.append({QStringLiteral("cam-2"), QStringLiteral("USB Camera")});
        SettingsView& view = rig.open();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(test::grabWidget(view).save(test::galleryFolder() + "/settings-token-masked.png"));
        QTest::mouseClick(view.tokenVisibilityButton(), Qt::LeftButton);
        QVERIFY(test::grabWidget(view).save(test::galleryFolder() + "/settings-token-shown.png"));
    }

    /// Last: the application's loop runs once, and quits.
    void quittingCommitsTheServerFields()
    {
        Rig rig;
        SettingsView& view = rig.open();
        Writes<QString> urls(rig.app().serverBaseURL()), tokens(rig.app().apiToken());
        typeInto(view.serverURLField(), QStringLiteral("https://pondra.example.net"));
        typeInto(view.apiTokenField(), QStringLiteral("typed-token"));
        QCOMPARE(urls.values.size() + tokens.values.size(), 0);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        QCOMPARE(urls.values, QStringList{"https://pondra.example.net"});
        QCOMPARE(tokens.values, QStringList{"typed-token"});
    }
};

PONDRA_VIEW_TEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
