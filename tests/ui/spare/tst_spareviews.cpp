#include "ui/kit/Palette.h"
#include "ui/kit/WindowFinder.h"
#include "ui/spare/ContentView.h"
#include "ui/spare/RingMenuView.h"
#include "ui/spare/UserRow.h"

#include "IdleMonitorRig.h"
#include "TestEnvironment.h"
#include "ViewTesting.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <memory>

using namespace pondra;

Q_DECLARE_METATYPE(QList<pondra::TintedGlyph>)

namespace {

/// One poll of the monitor, reading `seconds`.
void read(test::IdleMonitorRig& rig, double seconds)
{
    rig.source->reading = seconds;
    rig.scheduler.advance(std::chrono::seconds(1));
}

/// The widget at its current size, or at its natural size while it has none.
QImage grabOn(QWidget& widget, const QColor& background)
{
    if (!widget.testAttribute(Qt::WA_Resized))
        widget.adjustSize();
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void saveToGallery(const QImage& image, const QString& name)
{
    QVERIFY(image.save(test::galleryFolder() + QLatin1Char('/') + name));
}

} // namespace

class TestSpareViews final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void contentModel_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("idle");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("idleTime");
        QTest::addColumn<QString>("thresholdText");
        QTest::newRow("just active") << 59.9 << 60.0 << false << "Active"
                                     << "0:59"
                                     << "60s";
        QTest::newRow("idle from 60 s") << 60.0 << 60.0 << true << "Idle"
                                        << "1:00"
                                        << "60s";
        QTest::newRow("over an hour") << 3725.0 << 60.0 << true << "Idle"
                                      << "1:02:05"
                                      << "60s";
        QTest::newRow("threshold cut towards zero") << 10.0 << 90.9 << false << "Active"
                                                    << "0:10"
                                                    << "90s";
    }
    void contentModel()
    {
        QFETCH(double, seconds);
        QFETCH(double, threshold);
        QFETCH(bool, idle);
        QFETCH(QString, status);
        QFETCH(QString, idleTime);
        QFETCH(QString, thresholdText);
        test::IdleMonitorRig rig;
        rig.monitor->idleThreshold = threshold;
        ContentView view(*rig.monitor);
        read(rig, seconds);
        const ContentViewModel& model = view.model();
        QCOMPARE(model.isIdle, idle);
        QCOMPARE(model.statusText, status);
        QCOMPARE(model.idleTime, idleTime);
        QCOMPARE(model.threshold, thresholdText);
        QCOMPARE(model.dotColour(), idle ? palette::orange() : palette::green());
        // The labels show the model.
        QStringList texts;
        for (const QLabel* label : view.findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains(status) && texts.contains(idleTime) && texts.contains(thresholdText));
    }

    /// "Quit" and Ctrl+Q in the panel run its action, or quit the program
    /// without one; shown beside a window that carries the program's own
    /// Ctrl+Q, exactly one of them acts, with no ambiguity.
    void contentQuit_data()
    {
        QTest::addColumn<bool>("withAction");
        QTest::newRow("its own action") << true;
        QTest::newRow("no action: the program quits") << false;
    }
    void contentQuit()
    {
        QFETCH(bool, withAction);
        QTest::failOnWarning(QRegularExpression(QStringLiteral("[Aa]mbiguous")));
        QAction* programQuit = WindowRegistry::instance().quitAction();
        const std::unique_ptr<QWidget> main = test::registeredWindow(QStringLiteral("Pondra"));
        main->addAction(programQuit);
        main->show();
        test::IdleMonitorRig rig;
        int actions = 0;
        ContentView view(*rig.monitor,
                         withAction ? std::function<void()>([&actions] { ++actions; }) : nullptr);
        QCOMPARE(view.width(), ContentView::panelWidth);
        QCOMPARE(view.quitButton()->text(), QStringLiteral("Quit"));
        view.show();
        view.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &view);
        QSignalSpy quits(programQuit, &QAction::triggered);

        view.quitButton()->click();
        QTest::keyClick(&view, Qt::Key_Q, Qt::ControlModifier);
        view.quitButton()->setFocus();
        QTest::keyClick(view.quitButton(), Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(actions, withAction ? 3 : 0);
        QCOMPARE(quits.count(), withAction ? 0 : 3);

        // In the other window Ctrl+Q is the program's own, whatever the panel does.
        main->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), main.get());
        QTest::keyClick(main.get(), Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(quits.count(), withAction ? 1 : 4);
    }

    void rowMarks_data()
    {
        QTest::addColumn<bool>("audio");
        QTest::addColumn<bool>("headphones");
        QTest::addColumn<bool>("meeting");
        QTest::addColumn<QList<TintedGlyph>>("marks");
        const TintedGlyph video{Glyph::videoFill, palette::green()};
        const TintedGlyph music{Glyph::musicNote, palette::purple()};
        const TintedGlyph phones{Glyph::headphones, palette::blue()};
        QTest::newRow("none") << false << false << false << QList<TintedGlyph>{};
        QTest::newRow("all, meeting first")
            << true << true << true << QList<TintedGlyph>{video, music, phones};
        QTest::newRow("music") << true << false << false << QList<TintedGlyph>{music};
        QTest::newRow("headphones and meeting") << false << true << true << QList<TintedGlyph>{video, phones};
    }
    void rowMarks()
    {
        QFETCH(bool, audio);
        QFETCH(bool, headphones);
        QFETCH(bool, meeting);
        QFETCH(QList<TintedGlyph>, marks);
        UserRow row(QStringLiteral("Bo"), std::nullopt, audio, headphones, meeting, IdleState::semiIdle);
        QCOMPARE(row.model().marks(), marks);
        QCOMPARE(row.model().dotColour(), palette::yellow());
    }

    /// Pixels of the row: placeholder or aspect-filled photo, marks from the
    /// right edge, the dot last.
    void rowDrawing()
    {
        UserRow empty(QStringLiteral("Bo\nSecond line"), std::nullopt, false, false, false,
                      IdleState::active);
        QCOMPARE(empty.model().name, QStringLiteral("Bo Second line"));
        empty.resize(300, empty.sizeHint().height());
        QCOMPARE(empty.height(), 58);
        QImage image = grabOn(empty, Qt::white);
        // The gray placeholder fills the 50-pixel tile; the dot sits at the right edge.
        QVERIFY(test::isNear(image.pixelColor(4, 29), QColor(0xdd, 0xdd, 0xdf), 16));
        QVERIFY(test::isNear(image.pixelColor(294, 29), palette::green(), 12));
        QVERIFY(test::isNear(image.pixelColor(280, 29), Qt::white, 2));

        UserRow full(QStringLiteral("Bo"), test::colourBands(), true, true, true, IdleState::idle);
        full.resize(300, full.sizeHint().height());
        image = grabOn(full, Qt::white);
        // Cut at the sides, not squeezed: the middle band fills the tile.
        QVERIFY(test::isNear(image.pixelColor(4, 29), QColor(0, 255, 0), 40));
        QVERIFY(test::isNear(image.pixelColor(45, 29), QColor(0, 255, 0), 40));
        QVERIFY(test::isNear(image.pixelColor(294, 29), palette::gray(), 12));
    }

    void ringPromptRunsOneActionPerPress()
    {
        int accepted = 0;
        int declined = 0;
        RingMenuView view(
            QStringLiteral("Cy"), std::nullopt, [&accepted] { ++accepted; }, [&declined] { ++declined; });
        QCOMPARE(view.laterButton()->text(), QStringLiteral("Maybe Later"));
        QCOMPARE(view.sureButton()->text(), QStringLiteral("Sure!"));
        QVERIFY(view.laterButton()->shortcut().isEmpty() && view.sureButton()->shortcut().isEmpty());
        QVERIFY(!view.laterButton()->isDefault() && !view.sureButton()->isDefault());
        view.sureButton()->click();
        QCOMPARE(accepted, 1);
        QCOMPARE(declined, 0);
        view.laterButton()->click();
        QCOMPARE(accepted, 1);
        QCOMPARE(declined, 1);

        // Without actions the buttons are there and pressable, and do nothing.
        RingMenuView inert(QString(), std::nullopt, {}, {});
        for (QPushButton* button : {inert.sureButton(), inert.laterButton()}) {
            QSignalSpy clicked(button, &QPushButton::clicked);
            QVERIFY(button->isEnabled());
            button->click();
            QCOMPARE(clicked.count(), 1);
        }
        QCOMPARE(accepted, 1);
        QCOMPARE(declined, 1);
        QCOMPARE(RingMenuView::title(QString()), QStringLiteral(" wants to chat!"));
        QCOMPARE(RingMenuView::title(QStringLiteral("Cy")), QStringLiteral("Cy wants to chat!"));
    }

    void ringPromptButtonsAreCentred()
    {
        RingMenuView view(QStringLiteral("Cy"), std::nullopt, {}, {});
        view.adjustSize();
        QCOMPARE(view.width(), RingMenuView::panelWidth);
        const QRect later = view.laterButton()->geometry();
        const QRect sure = view.sureButton()->geometry();
        QCOMPARE(later.width(), sure.width());
        QVERIFY(later.width() >= RingMenuView::buttonLabelWidth);
        QCOMPARE(sure.left() - later.right() - 1, 16);
        // Inside the 16-pixel padding, as far from either side.
        QCOMPARE(later.left(), 16);
        QCOMPARE(view.width() - 1 - sure.right(), 16);
        QCOMPARE(later.top(), sure.top());
    }

    void ringPromptPhoto()
    {
        RingMenuView placeholder(QStringLiteral("Cy"), std::nullopt, {}, {});
        QImage image = grabOn(placeholder, Qt::white);
        QCOMPARE(image.width(), RingMenuView::panelWidth);
        // The 100-pixel tile is centred under the 16-pixel margin, gray with the person over it.
        QVERIFY(test::isNear(image.pixelColor(75 + 4, 16 + 50), QColor(0xdd, 0xdd, 0xdf), 16));
        // The head of the 40-pixel person, centred on the tile.
        QVERIFY(test::isNear(image.pixelColor(125, 16 + 50 - 20 + 12), palette::gray(), 24));

        RingMenuView photo(QStringLiteral("Cy"), test::colourBands(), {}, {});
        image = grabOn(photo, Qt::white);
        QVERIFY(test::isNear(image.pixelColor(75 + 4, 16 + 50), QColor(0, 255, 0), 40));
        QVERIFY(test::isNear(image.pixelColor(175 - 4, 16 + 50), QColor(0, 255, 0), 40));
    }

    void gallery()
    {
        test::IdleMonitorRig rig;
        ContentView active(*rig.monitor);
        read(rig, 42);
        saveToGallery(grabOn(active, QApplication::palette().color(QPalette::Window)),
                      QStringLiteral("spare-content-active.png"));
        read(rig, 3725);
        saveToGallery(grabOn(active, QApplication::palette().color(QPalette::Window)),
                      QStringLiteral("spare-content-idle.png"));

        const QImage photo(test::testDataPath(QStringLiteral("grace_hopper.jpg")));
        QVERIFY(!photo.isNull());
        QWidget rows;
        rows.setFixedWidth(320);
        auto* layout = new QVBoxLayout(&rows);
        layout->setContentsMargins(8, 8, 8, 8);
        layout->addWidget(new UserRow(QStringLiteral("Grace"), photo, true, true, true, IdleState::active));
        layout->addWidget(
            new UserRow(QStringLiteral("Bo"), std::nullopt, false, false, false, IdleState::semiIdle));
        layout->addWidget(new UserRow(QStringLiteral("A very long name that cannot fit the row at all"),
                                      test::colourBands(), true, false, false, IdleState::idle));
        saveToGallery(grabOn(rows, QApplication::palette().color(QPalette::Window)),
                      QStringLiteral("spare-user-rows.png"));

        RingMenuView withPhoto(QStringLiteral("Grace"), photo, {}, {});
        saveToGallery(grabOn(withPhoto, QApplication::palette().color(QPalette::Window)),
                      QStringLiteral("spare-ring-menu.png"));
        RingMenuView withoutPhoto(QStringLiteral("Bo"), std::nullopt, {}, {});
        saveToGallery(grabOn(withoutPhoto, QApplication::palette().color(QPalette::Window)),
                      QStringLiteral("spare-ring-menu-placeholder.png"));
    }
};

PONDRA_VIEW_TEST_MAIN(TestSpareViews)
#include "tst_spareviews.moc"
