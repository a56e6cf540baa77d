#include "platform/compositing/X11CompositingQuery.h"

#include "XvfbServer.h"

#include <QTest>

using namespace pondra;

class TestCompositing final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noDisplayNoCompositor()
    {
        X11CompositingQuery query(QByteArrayLiteral(":4093"));
        QVERIFY(!query.isCompositing());
    }

    void followsTheCompositorAtEachCall()
    {
        test::XvfbServer xvfb;
        QVERIFY(xvfb.start());
        X11CompositingQuery query(xvfb.display().toLatin1());
        QVERIFY(!query.isCompositing());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), xvfb.display());
        {
            test::ManagedProcess compositor;
            QVERIFY(compositor.start(QStringLiteral("xcompmgr"), {}, env));
            QTRY_VERIFY_WITH_TIMEOUT(query.isCompositing(), 10'000);
        }
        // The compositor is gone: the same query answers afresh.
        QTRY_VERIFY_WITH_TIMEOUT(!query.isCompositing(), 10'000);
    }
};

QTEST_GUILESS_MAIN(TestCompositing)
#include "tst_compositing.moc"
