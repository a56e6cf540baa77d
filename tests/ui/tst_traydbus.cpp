// The tray menu as a desktop panel sees it: over D-Bus, through a
// StatusNotifierWatcher with a registered host (our own fake, on a private
// session bus), the item's exported com.canonical.dbusmenu layout read and
// its items clicked through "Event", as panels do.
#include "ui/TrayIcon.h"
#include "ui/WindowFinder.h"

#include "AppRig.h"
#include "TestProcesses.h"
#include "ViewTesting.h"
#include "XvfbServer.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMenu>
#include <QTemporaryDir>

using namespace pondra;
using test::AppRig;

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

/// The private session bus and the watcher on it, for the whole process: Qt
/// picks the tray's kind once, when the first icon is made.
test::PrivateBus* sessionBus = nullptr;

/// One entry of an exported menu.
struct MenuNode
{
    int id = 0;
    QVariantMap properties;
    QList<MenuNode> children;
};

MenuNode readNode(const QDBusArgument& argument)
{
    MenuNode node;
    argument.beginStructure();
    argument >> node.id >> node.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        node.children << readNode(child.variant().value<QDBusArgument>());
    }
    argument.endArray();
    argument.endStructure();
    return node;
}

/// "Ctrl+1" from dbusmenu's [["Control", "1"]].
QString shortcutText(const QVariant& value)
{
    QStringList chords;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QStringList keys;
        argument >> keys;
        for (QString& key : keys) {
            if (key == QLatin1String("Control"))
                key = QStringLiteral("Ctrl");
        }
        chords << keys.join(QLatin1Char('+'));
    }
    argument.endArray();
    return chords.join(QStringLiteral(", "));
}

/// The visible entries as the unit tests write them: text, "(disabled)", the
/// check box, the shortcut; "-" for a separator.
QStringList visibleEntries(const MenuNode& root)
{
    QStringList out;
    for (const MenuNode& node : root.children) {
        const QVariantMap& p = node.properties;
        if (!p.value(QStringLiteral("visible"), true).toBool())
            continue;
        if (p.value(QStringLiteral("type")).toString() == QLatin1String("separator")) {
            out << QStringLiteral("-");
            continue;
        }
        // dbusmenu marks mnemonics with "_"; ours have none.
        QString entry = p.value(QStringLiteral("label")).toString();
        if (!p.value(QStringLiteral("enabled"), true).toBool())
            entry += QStringLiteral(" (disabled)");
        if (p.value(QStringLiteral("toggle-type")).toString() == QLatin1String("checkmark"))
            entry += p.value(QStringLiteral("toggle-state")).toInt() == 1 ? QStringLiteral(" [x]")
                                                                          : QStringLiteral(" [ ]");
        if (p.contains(QStringLiteral("shortcut")))
            entry += QLatin1Char(' ') + shortcutText(p.value(QStringLiteral("shortcut")));
        out << entry;
    }
    return out;
}

/// The panel: its own connection to the session bus. Calls keep the event
/// loop running, since the item answers from this very process.
class Panel final
{
public:
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments = {}) const
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return sessionBus->connection().call(message, QDBus::BlockWithGui, 5000);
    }
    QVariant property(const QString& service, const QString& path, const QString& interface,
                      const QString& name) const
    {
        const QDBusMessage reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {interface, name});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }

    /// The first registered item: its bus name and object path.
    bool findItem()
    {
        const QStringList items = property(watcherService, QStringLiteral("/StatusNotifierWatcher"),
                                           watcherService, QStringLiteral("RegisteredStatusNotifierItems"))
                                      .toStringList();
        if (items.isEmpty())
            return false;
        const qsizetype slash = items.first().indexOf(QLatin1Char('/'));
        m_service = items.first().left(slash);
        m_itemPath = items.first().mid(slash);
        m_menuPath = property(m_service, m_itemPath, itemInterface, QStringLiteral("Menu"))
                         .value<QDBusObjectPath>()
                         .path();
        return !m_menuPath.isEmpty();
    }

    MenuNode layout() const
    {
        const QDBusMessage reply =
            call(m_service, m_menuPath, menuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
            return {};
        return readNode(reply.arguments().at(1).value<QDBusArgument>());
    }
    QStringList entries() const { return visibleEntries(layout()); }

    int idOf(const QString& label) const
    {
        for (const MenuNode& node : layout().children) {
            if (node.properties.value(QStringLiteral("label")).toString() == label)
                return node.id;
        }
        return -1;
    }
    bool click(const QString& label) const
    {
        const int id = idOf(label);
        return id >= 0 && event(id, QStringLiteral("clicked"));
    }
    bool event(int id, const QString& name) const
    {
        return call(m_service, m_menuPath, menuInterface, QStringLiteral("Event"),
                    {id, name, QVariant::fromValue(QDBusVariant(0)), 0u})
                   .type() == QDBusMessage::ReplyMessage;
    }
    bool aboutToShow(int id) const
    {
        return call(m_service, m_menuPath, menuInterface, QStringLiteral("AboutToShow"), {id}).type() ==
               QDBusMessage::ReplyMessage;
    }
    bool activate() const
    {
        return call(m_service, m_itemPath, itemInterface, QStringLiteral("Activate"), {0, 0}).type() ==
               QDBusMessage::ReplyMessage;
    }
    /// The sizes of the icon pixmaps the item offers.
    QList<QSize> iconSizes() const
    {
        QList<QSize> sizes;
        const QDBusArgument argument =
            property(m_service, m_itemPath, itemInterface, QStringLiteral("IconPixmap"))
                .value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            int width = 0;
            int height = 0;
            QByteArray bytes;
            argument.beginStructure();
            argument >> width >> height >> bytes;
            argument.endStructure();
            if (bytes.size() == width * height * 4)
                sizes << QSize(width, height);
        }
        argument.endArray();
        return sizes;
    }

private:
    QString m_service;
    QString m_itemPath;
    QString m_menuPath;
};

MenuBarIcon::Locator sourceIcons()
{
    return [](const QString& name) {
        return qEnvironmentVariable("PONDRA_SOURCE_DIR") + QStringLiteral("/resources/") + name;
    };
}

} // namespace

class TestTrayDBus final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void menuAsAPanelSeesIt()
    {
        AppRig rig;
        rig.build();
        auto team = test::registeredWindow(QString(), WindowIdentifiers::teamWindow);
        team->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
        team->show();

        TrayIcon tray(*rig.app, sourceIcons());
        QVERIFY(tray.hasTrayHost());
        Panel panel;
        QTRY_VERIFY(panel.findItem());

        const QStringList windows{QStringLiteral("-"), QStringLiteral("Show Main Window Ctrl+1"),
                                  QStringLiteral("Show Team Window Ctrl+2"), QStringLiteral("-")};
        const QStringList tail{QStringLiteral("-"), QStringLiteral("Settings... Ctrl+,"), QStringLiteral("-"),
                               QStringLiteral("Quit Pondra Ctrl+Q")};
        const QStringList away =
            QStringList{QStringLiteral("Status: Away (disabled)"), QStringLiteral("I'm Pondra")} + windows +
            QStringList{QStringLiteral("Keep Team Window on Top [ ]")} + tail;
        QCOMPARE(panel.entries(), away);

        // "I'm Pondra" from the panel starts a capture; once it ends the menu offers the present commands.
        QVERIFY(panel.click(QStringLiteral("I'm Pondra")));
        QTRY_VERIFY(rig.app->cameraCapture().isCapturing());
        QTest::ignoreMessage(QtInfoMsg, "Capture already in progress, skipping");
        rig.capture();
        QVERIFY(rig.app->cameraCapture().isPondraMode.get());
        const QStringList present = QStringList{QStringLiteral("Status: Pondra (disabled)"),
                                                QStringLiteral("Go Away"), QStringLiteral("Retake Photo")} +
                                    windows + QStringList{QStringLiteral("Keep Team Window on Top [ ]")} +
                                    tail;
        QTRY_COMPARE(panel.entries(), present);

        // The toggle stores the choice and floats the team window at once.
        QVERIFY(panel.click(QStringLiteral("Keep Team Window on Top")));
        QTRY_COMPARE(rig.store->flag(QLatin1String(keepTeamWindowOnTopKey)), std::optional<bool>(true));
        QVERIFY(team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QTRY_VERIFY(panel.entries().contains(QStringLiteral("Keep Team Window on Top [x]")));

        // Opening the menu applies nothing.
        WindowFinder::setTeamWindowOnTop(false);
        QVERIFY(panel.aboutToShow(0));
        QVERIFY(panel.event(0, QStringLiteral("opened")));
        QVERIFY(panel.event(0, QStringLiteral("closed")));
        QVERIFY(!team->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

        QVERIFY(panel.click(QStringLiteral("Go Away")));
        QTRY_VERIFY(!rig.app->cameraCapture().isPondraMode.get());
        QTRY_VERIFY(panel.entries().contains(QStringLiteral("I'm Pondra")));

        // A left click on the icon pops the same menu.
        QVERIFY(!tray.menu().menu()->isVisible());
        QVERIFY(panel.activate());
        QTRY_VERIFY(tray.menu().menu()->isVisible());
        tray.menu().menu()->hide();

        // The icon goes out at every size the panel may want.
        const QList<QSize> sizes = panel.iconSizes();
        for (int side : MenuBarIcon::sizes)
            QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
    }
};

int main(int argc, char** argv)
{
    // The bus, the watcher and the X server come first: the tray's kind is
    // chosen when the first icon is made, from what is on the session bus then.
    test::XvfbServer xvfb;
    if (!xvfb.start())
        qFatal("Xvfb did not start");
    test::PrivateBus bus;
    if (!bus.start())
        qFatal("dbus-daemon did not start");
    sessionBus = &bus;
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLatin1());
    qputenv("DISPLAY", xvfb.display().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_SCALE_FACTOR", "1");
    // No desktop's own theme: the generic one, whose tray speaks StatusNotifierItem.
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("DESKTOP_SESSION");
    qunsetenv("QT_QPA_PLATFORMTHEME");
    test::ManagedProcess watcher;
    const QString script =
        qEnvironmentVariable("PONDRA_SOURCE_DIR") + QStringLiteral("/tests/ui/fake_sni_watcher.py");
    if (!watcher.start(QStringLiteral("/usr/bin/python3"), {script}) ||
        watcher.readLine() != QLatin1String("ready") || !bus.waitForService(watcherService))
        qFatal("the StatusNotifierWatcher did not start");

    QApplication app(argc, argv);
    test::fixViewLook();
    TestTrayDBus tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_traydbus.moc"
