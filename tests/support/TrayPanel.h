#pragma once

#include "TestProcesses.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace pondra::test {

class XvfbServer;

/**
 * Starts `xvfb` and `bus` and points the application about to be made at
 * them: the xcb platform at scale 1, and no desktop's own theme (the generic
 * one, whose tray speaks StatusNotifierItem where a host is on the bus and
 * XEmbed where none is). Ends the test program where either does not start.
 */
void startTrayDesktop(XvfbServer& xvfb, PrivateBus& bus);

/**
 * A desktop panel's tray host on a session bus: a StatusNotifierWatcher with
 * a registered host (our own fake, fake_sni_watcher.py), so that a program
 * started on that bus finds a tray and registers its item there.
 */
class TrayHost final
{
public:
    /// Starts the watcher on `bus` and waits until it owns its name.
    bool start(const PrivateBus& bus);

private:
    ManagedProcess m_watcher;
};

/// One entry of an exported menu.
struct MenuNode
{
    int id = 0;
    QVariantMap properties;
    QList<MenuNode> children;
};

/**
 * The panel's view of the first registered tray item, over D-Bus: the item's
 * exported com.canonical.dbusmenu layout read and its entries clicked through
 * "Event", as panels do. Calls keep the event loop running, so the item may
 * answer from this very process.
 */
class TrayPanel final
{
public:
    explicit TrayPanel(QDBusConnection bus) : m_bus(std::move(bus)) {}

    /// Finds the first registered item and its menu; false while there is none.
    bool findItem();

    MenuNode layout() const;
    /// The visible entries as the unit tests write them: the text, " (disabled)",
    /// " [x]" or " [ ]" for a check box, the shortcut; "-" for a separator.
    QStringList entries() const;
    /// The id of the top-level entry with this text, or -1.
    int idOf(const QString& label) const;
    bool click(const QString& label) const;
    bool event(int id, const QString& name) const;
    bool aboutToShow(int id) const;
    /// A left click on the icon.
    bool activate() const;
    /// The sizes of the icon pixmaps the item offers.
    QList<QSize> iconSizes() const;
    /// The icon's name in the icon theme, as the item gives it ("IconName").
    QString iconName() const;

private:
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments = {}) const;
    QVariant property(const QString& service, const QString& path, const QString& interface,
                      const QString& name) const;

    QDBusConnection m_bus;
    QString m_service;
    QString m_itemPath;
    QString m_menuPath;
};

} // namespace pondra::test
