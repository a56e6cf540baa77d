#include "records/IdleState.h"
#include "ui/kit/Palette.h"

#include <QTest>

#include <limits>

using namespace pondra;

Q_DECLARE_METATYPE(pondra::IdleState)

class TestIdleState : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bands_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<IdleState>("expected");
        QTest::newRow("0 s") << 0.0 << IdleState(IdleState::active);
        QTest::newRow("599.9 s") << 599.9 << IdleState(IdleState::active);
        QTest::newRow("600 s") << 600.0 << IdleState(IdleState::semiIdle);
        QTest::newRow("1799.9 s") << 1799.9 << IdleState(IdleState::semiIdle);
        QTest::newRow("1800 s") << 1800.0 << IdleState(IdleState::idle);
        QTest::newRow("a day") << 86400.0 << IdleState(IdleState::idle);
        QTest::newRow("not a number")
            << std::numeric_limits<double>::quiet_NaN() << IdleState(IdleState::idle);
    }
    void bands()
    {
        QFETCH(double, seconds);
        QFETCH(IdleState, expected);
        QCOMPARE(IdleState::fromSeconds(seconds), expected);
    }

    void wireTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<IdleState>("expected");
        QTest::newRow("active") << "active" << IdleState(IdleState::active);
        QTest::newRow("semiIdle") << "semiIdle" << IdleState(IdleState::semiIdle);
        QTest::newRow("idle") << "idle" << IdleState(IdleState::idle);
        QTest::newRow("capitalised") << "Active" << IdleState(IdleState::idle);
        QTest::newRow("lower case") << "semiidle" << IdleState(IdleState::idle);
        QTest::newRow("unknown word") << "away" << IdleState(IdleState::idle);
        QTest::newRow("empty") << "" << IdleState(IdleState::idle);
    }
    void wireTexts()
    {
        QFETCH(QString, text);
        QFETCH(IdleState, expected);
        QCOMPARE(IdleState::fromString(text), expected);
    }

    void casesHaveTheirTextAndColour_data()
    {
        QTest::addColumn<IdleState>("state");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QColor>("colour");
        // Green, yellow (not the orange of #ff9500) and gray, by value.
        QTest::newRow("active") << IdleState(IdleState::active) << "active" << QColor(0x34, 0xc7, 0x59);
        QTest::newRow("semiIdle is yellow, not orange")
            << IdleState(IdleState::semiIdle) << "semiIdle" << QColor(0xff, 0xcc, 0x00);
        QTest::newRow("idle") << IdleState(IdleState::idle) << "idle" << QColor(0x8e, 0x8e, 0x93);
    }
    void casesHaveTheirTextAndColour()
    {
        QFETCH(IdleState, state);
        QFETCH(QString, wire);
        QFETCH(QColor, colour);
        QCOMPARE(state.wireText(), wire);
        QCOMPARE(palette::idleColor(state), colour);
        QCOMPARE(IdleState::fromString(state.wireText()), state);
    }
};

QTEST_GUILESS_MAIN(TestIdleState)
#include "tst_idlestate.moc"
