// What the program asks of Qt's platform through the environment before its
// application exists, and that programs it starts later inherit none of it.
#include "program/PlatformChoice.h"

#include <QtTest>

using namespace pondra;

namespace {
const char* const variables[] = {"DISPLAY", "QT_QPA_PLATFORM", "QT_XCB_NO_MITSHM"};

/// Sets each variable to its value, or unsets it where the value is null.
void setEnvironment(const QList<QByteArray>& values)
{
    for (int i = 0; i < values.size(); ++i)
        values[i].isNull() ? qunsetenv(variables[i]) : qputenv(variables[i], values[i]);
}

QList<QByteArray> environment()
{
    QList<QByteArray> values;
    for (const char* name : variables)
        values.append(qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
    return values;
}
} // namespace

class TestPlatformChoice final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_saved = environment(); }
    void cleanup() { setEnvironment(m_saved); }

    void environmentWhileItLives_data()
    {
        QTest::addColumn<QList<QByteArray>>("before");
        QTest::addColumn<QList<QByteArray>>("during");
        const QByteArray unset;
        QTest::newRow("an X display")
            << QList<QByteArray>{":3", unset, unset} << QList<QByteArray>{":3", "xcb", "1"};
        QTest::newRow("no display") << QList<QByteArray>{unset, unset, unset}
                                    << QList<QByteArray>{unset, unset, unset};
        QTest::newRow("the user's own choices")
            << QList<QByteArray>{":3", "wayland", "0"} << QList<QByteArray>{":3", "wayland", "0"};
        QTest::newRow("the user's platform only")
            << QList<QByteArray>{":3", "offscreen", unset} << QList<QByteArray>{":3", "offscreen", "1"};
    }
    void environmentWhileItLives()
    {
        QFETCH(QList<QByteArray>, before);
        QFETCH(QList<QByteArray>, during);
        setEnvironment(before);
        {
            const PlatformChoice choice;
            QCOMPARE(environment(), during);
        }
        QCOMPARE(environment(), before);
    }

private:
    QList<QByteArray> m_saved;
};

QTEST_GUILESS_MAIN(TestPlatformChoice)
#include "tst_platform_choice.moc"
