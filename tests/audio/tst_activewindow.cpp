#include "platform/meeting/ActiveWindow.h"

#include "XvfbServer.h"

#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace pondra;

class TestActiveWindow final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noDisplayNoFrontmost()
    {
        qunsetenv("DISPLAY");
        X11ActiveWindowSource source;
        QVERIFY(!source.activeWindow());
    }

    void readsTheFocusedWindowsOwner()
    {
        test::XvfbServer xvfb;
        QVERIFY(xvfb.start());
        const QByteArray name = xvfb.display().toLatin1();
        qputenv("DISPLAY", name);

        Display* display = XOpenDisplay(name.constData());
        QVERIFY(display);
        const Window root = DefaultRootWindow(display);
        X11ActiveWindowSource source;
        QVERIFY(!source.activeWindow()); // no window manager has set a focused window

        const Window window = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
        const unsigned long pid = 4321;
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
        XClassHint hint{const_cast<char*>("slack"), const_cast<char*>("Slack")};
        XSetClassHint(display, window, &hint);
        XChangeProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&window), 1);
        XSync(display, False);

        const auto active = source.activeWindow();
        QVERIFY(active);
        QCOMPARE(active->pid, qint64(4321));
        QCOMPARE(active->windowClass, QStringLiteral("Slack"));

        // The focused window goes away: no owner, and no crash on the stale id.
        XDestroyWindow(display, window);
        XSync(display, False);
        const auto gone = source.activeWindow();
        QVERIFY(gone);
        QCOMPARE(gone->pid, qint64(0));
        XCloseDisplay(display);
    }
};

QTEST_GUILESS_MAIN(TestActiveWindow)
#include "tst_activewindow.moc"
