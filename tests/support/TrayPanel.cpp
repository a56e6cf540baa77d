#include "TrayPanel.h"

#include "XvfbServer.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace pondra::test {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

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

} // namespace

void startTrayDesktop(XvfbServer& xvfb, PrivateBus& bus)
{
    if (!xvfb.start())
        qFatal("Xvfb did not start");
    if (!bus.start())
        qFatal("dbus-daemon did not start");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLatin1());
    qputenv("DISPLAY", xvfb.display().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_SCALE_FACTOR", "1");
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("DESKTOP_SESSION");
    qunsetenv("QT_QPA_PLATFORMTHEME");
}

bool TrayHost::start(const PrivateBus& bus)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    const QString script =
        qEnvironmentVariable("PONDRA_SOURCE_DIR") + QStringLiteral("/tests/support/fake_sni_watcher.py");
    return m_watcher.start(QStringLiteral("/usr/bin/python3"), {script}, env) &&
           m_watcher.readLine() == QLatin1String("ready") && bus.waitForService(watcherService);
}

QDBusMessage TrayPanel::call(const QString& service, const QString& path, const QString& interface,
                             const QString& method, const QVariantList& arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::BlockWithGui, 5000);
}

QVariant TrayPanel::property(const QString& service, const QString& path, const QString& interface,
                             const QString& name) const
{
    const QDBusMessage reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

bool TrayPanel::findItem()
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

MenuNode TrayPanel::layout() const
{
    const QDBusMessage reply =
        call(m_service, m_menuPath, menuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return {};
    return readNode(reply.arguments().at(1).value<QDBusArgument>());
}

QStringList TrayPanel::entries() const
{
    QStringList out;
    for (const MenuNode& node : layout().children) {
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

int TrayPanel::idOf(const QString& label) const
{
    for (const MenuNode& node : layout().children) {
        if (node.properties.value(QStringLiteral("label")).toString() == label)
            return node.id;
    }
    return -1;
}

bool TrayPanel::click(const QString& label) const
{
    const int id = idOf(label);
    return id >= 0 && event(id, QStringLiteral("clicked"));
}

bool TrayPanel::event(int id, const QString& name) const
{
    return call(m_service, m_menuPath, menuInterface, QStringLiteral("Event"),
                {id, name, QVariant::fromValue(QDBusVariant(0)), 0u})
               .type() == QDBusMessage::ReplyMessage;
}

bool TrayPanel::aboutToShow(int id) const
{
    return call(m_service, m_menuPath, menuInterface, QStringLiteral("AboutToShow"), {id}).type() ==
           QDBusMessage::ReplyMessage;
}

bool TrayPanel::activate() const
{
    return call(m_service, m_itemPath, itemInterface, QStringLiteral("Activate"), {0, 0}).type() ==
           QDBusMessage::ReplyMessage;
}

QList<QSize> TrayPanel::iconSizes() const
{
    QList<QSize> sizes;
    const QDBusArgument argument =
        property(m_service, m_itemPath, itemInterface, QStringLiteral("IconPixmap")).value<QDBusArgument>();
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

QString TrayPanel::iconName() const
{
    return property(m_service, m_itemPath, itemInterface, QStringLiteral("IconName")).toString();
}

} // namespace pondra::test
