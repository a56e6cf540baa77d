#pragma once

#include "platform/notify/Notifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace pondra {

/// Notifications through org.freedesktop.Notifications on the session bus.
/// Only asynchronous calls are made: a server that hangs never blocks the
/// main thread.
class DBusNotifier final : public Notifier
{
    Q_OBJECT
public:
    explicit DBusNotifier(QDBusConnection connection = QDBusConnection::sessionBus(),
                          QObject* parent = nullptr);
    ~DBusNotifier() override;

    void setCategories(const QList<NotificationCategory>& categories) override;
    void queryServer(QObject* context, InfoCompletion done) override;
    void post(const NotificationRequest& request, QObject* context, PostCompletion done) override;

    /// `text` with the characters that the notification markup gives meaning to escaped.
    static QString escapeMarkup(const QString& text);

private Q_SLOTS:
    void onActionInvoked(uint serverId, const QString& actionKey);
    void onNotificationClosed(uint serverId, uint reason);

private:
    void onServerOwnerChanged();
    /// Runs `next` with the server's capabilities, asking for them first when unknown.
    void withCapabilities(QObject* context, std::function<void(const NotificationServerInfo&)> next);
    void answerCapabilityWaiters(const NotificationServerInfo& info);
    void sendNotify(const NotificationRequest& request, bool markup, QObject* context, PostCompletion done);
    QStringList actionListFor(const QString& category) const;
    const NotificationCategory* categoryNamed(const QString& identifier) const;

    QDBusConnection m_connection;
    QDBusServiceWatcher* m_watcher = nullptr;
    QList<NotificationCategory> m_categories;
    std::optional<QStringList> m_capabilities;
    std::vector<std::pair<QPointer<QObject>, std::function<void(const NotificationServerInfo&)>>>
        m_waitingForCapabilities;
    /// The server's number of each notification we posted → our identifier.
    QHash<uint, QString> m_identifiers;
    /// Our identifier → the category it was posted with.
    QHash<QString, QString> m_categoriesById;
};

} // namespace pondra
