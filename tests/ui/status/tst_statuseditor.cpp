#include "ui/kit/Palette.h"
#include "ui/kit/TextStyles.h"
#include "ui/status/DetailCheckBox.h"
#include "ui/status/StatusEditView.h"

#include "AppRig.h"
#include "ViewTesting.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>

using namespace pondra;

namespace {

/// The state on fakes (with a now-playing helper) and the editor over it.
struct Rig
{
    test::AppRig core;
    std::unique_ptr<StatusEditView> editor;

    Rig()
    {
        core.build(true);
        editor = std::make_unique<StatusEditView>(*core.app);
    }
    void play(const QString& title, const QString& artist)
    {
        core.setNowPlaying(true, title, artist);
        core.scheduler.advance(NowPlayingMonitor::pollInterval);
        QTRY_VERIFY(core.app->nowPlayingMonitor().isPlaying.get());
    }
    void open()
    {
        editor->open();
        QVERIFY(QTest::qWaitForWindowExposed(editor.get()));
    }
    QLabel* label(const QString& text) const
    {
        for (QLabel* label : editor->findChildren<QLabel*>())
            if (label->text() == text)
                return label;
        return nullptr;
    }
};

QString description(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description);
}

/// A click at `point` of `window`, on whatever is drawn there.
void clickAt(QWidget& window, QPoint point)
{
    QWidget* target = window.childAt(point);
    QVERIFY(target);
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&window, point));
}

} // namespace

class TestStatusEditor final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void windowIs330Wide()
    {
        Rig rig;
        rig.open();
        StatusEditView& editor = *rig.editor;
        QCOMPARE(editor.width(), StatusEditView::windowWidth);
        QCOMPARE(editor.minimumSize(), editor.maximumSize());
        // The 280-pixel field's column is centred in the padded content.
        const QRect field = test::areaIn(editor, *editor.statusField());
        QCOMPARE(field.width(), 280);
        QCOMPARE(field.left(), (StatusEditView::windowWidth - 280) / 2);
        // A long track does not widen it.
        rig.play(QString(300, QLatin1Char('x')), QStringLiteral("Artist"));
        editor.close();
        rig.open();
        QCOMPARE(editor.width(), StatusEditView::windowWidth);
    }

    /// The line under "Include Currently Playing" is part of the check box.
    void secondLineBelongsToTheBox()
    {
        Rig rig;
        rig.open();
        DetailCheckBox* box = rig.editor->nowPlayingBox();
        QCOMPARE(box->text(), QStringLiteral("Include Currently Playing"));
        QCOMPARE(box->detail(), QStringLiteral("No music playing"));
        QCOMPARE(description(box), QStringLiteral("No music playing"));
        const QRect line = box->detailRect().translated(test::areaIn(*rig.editor, *box).topLeft());
        QVERIFY(line.top() >= test::areaIn(*rig.editor, *box).center().y());

        QVERIFY(!box->isChecked());
        clickAt(*rig.editor, QPoint(line.left() + 4, line.center().y()));
        QVERIFY(box->isChecked());
        clickAt(*rig.editor, QPoint(line.left() + 4, line.center().y()));
        QVERIFY(!box->isChecked());
        // Past the end of the line's text is no part of it.
        clickAt(*rig.editor, QPoint(line.right() - 2, line.center().y()));
        QVERIFY(!box->isChecked());
        QVERIFY(!rig.core.app->includeNowPlaying().get()); // ticking writes nothing

        rig.play(QStringLiteral("Blue\nin Green"), QStringLiteral("Miles Davis"));
        rig.editor->close();
        rig.open();
        const QString track = QString::fromUtf16(u"\U0001F3B5 Miles Davis - Blue in Green");
        QCOMPARE(rig.editor->nowPlayingLine(),
                 QString::fromUtf16(u"\U0001F3B5 Miles Davis - Blue\nin Green"));
        QCOMPARE(box->detail(), track); // on one line
        QCOMPARE(description(box), track);
    }

    /// A desktop switched to dark while the editor is up: the quiet texts
    /// take the new colours too.
    void quietTextsFollowAPaletteChange()
    {
        Rig rig;
        rig.open();
        StatusEditView& editor = *rig.editor;
        QLabel* caption = rig.label(QStringLiteral("What are you up to?"));
        QVERIFY(caption);
        DetailCheckBox* box = editor.nowPlayingBox();
        test::acrossADarkSwitch(editor, [&] {
            const QImage image = test::grabWidget(editor);
            QRect line = box->detailRect().translated(test::areaIn(editor, *box).topLeft());
            line.setWidth(QFontMetrics(text::caption()).horizontalAdvance(box->detail()));
            for (const QRect& area : {test::areaIn(editor, *caption), line}) {
                QString seen;
                QVERIFY2(test::hasTextColour(image, area, palette::secondary(editor.palette()), &seen),
                         qPrintable(seen));
            }
        });
    }

    void gallery()
    {
        Rig rig;
        rig.core.app->setUserStatus(QStringLiteral("Deep work until 3"));
        rig.play(QStringLiteral("Blue in Green"), QStringLiteral("Miles Davis"));
        rig.open();
        QVERIFY(test::grabWidget(*rig.editor).save(test::galleryFolder() + "/status-editor.png"));
    }
};

PONDRA_VIEW_TEST_MAIN(TestStatusEditor)
#include "tst_statuseditor.moc"
