#include "platform/notify/DBusNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QTimer>
#include <QVariantMap>

namespace pondra {

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString interfaceName = QStringLiteral("org.freedesktop.Notifications");
const QString applicationName = QStringLiteral("Pondra");
// Long enough for a server that D-Bus has to start first; the call never blocks us.
constexpr int callTimeoutMs = 10'000;
// The reason NotificationClosed gives when the user dismissed the notification.
constexpr uint closedByUser = 2;

QDBusMessage methodCall(const QString& method)
{
    return QDBusMessage::createMethodCall(service, objectPath, interfaceName, method);
}
} // namespace

DBusNotifier::DBusNotifier(QDBusConnection connection, QObject* parent)
    : Notifier(parent), m_connection(std::move(connection))
{
    if (!m_connection.isConnected())
        return;
    // The signals are broadcast to every client of the server; we pick ours by the server's number.
    m_connection.connect(service, objectPath, interfaceName, QStringLiteral("ActionInvoked"), this,
                         SLOT(onActionInvoked(uint, QString)));
    m_connection.connect(service, objectPath, interfaceName, QStringLiteral("NotificationClosed"), this,
                         SLOT(onNotificationClosed(uint, uint)));
    // Another server may take over with other capabilities and other numbers.
    m_watcher =
        new QDBusServiceWatcher(service, m_connection, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &DBusNotifier::onServerOwnerChanged);
}

DBusNotifier::~DBusNotifier() = default;

void DBusNotifier::setCategories(const QList<NotificationCategory>& categories)
{
    m_categories = categories;
}

QString DBusNotifier::escapeMarkup(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            escaped += QLatin1String("&amp;");
        else if (c == u'<')
            escaped += QLatin1String("&lt;");
        else if (c == u'>')
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

void DBusNotifier::queryServer(QObject* context, InfoCompletion done)
{
    m_capabilities.reset();
    withCapabilities(context, std::move(done));
}

void DBusNotifier::withCapabilities(QObject* context, std::function<void(const NotificationServerInfo&)> next)
{
    if (m_capabilities) {
        NotificationServerInfo info;
        info.answered = true;
        info.capabilities = *m_capabilities;
        next(info);
        return;
    }
    m_waitingForCapabilities.emplace_back(QPointer<QObject>(context), std::move(next));
    if (m_waitingForCapabilities.size() > 1)
        return; // a question is already on its way
    if (!m_connection.isConnected()) {
        // No bus at all: answer on the next turn, as a server would.
        QTimer::singleShot(0, this, [this] {
            NotificationServerInfo info;
            info.errorText = m_connection.lastError().isValid()
                                 ? m_connection.lastError().message()
                                 : QStringLiteral("Not connected to a session bus");
            answerCapabilityWaiters(info);
        });
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(
        m_connection.asyncCall(methodCall(QStringLiteral("GetCapabilities")), callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QStringList> reply = *call;
        NotificationServerInfo info;
        if (reply.isError()) {
            info.errorText = reply.error().message();
        } else {
            info.answered = true;
            info.capabilities = reply.value();
            m_capabilities = info.capabilities;
        }
        answerCapabilityWaiters(info);
    });
}

void DBusNotifier::answerCapabilityWaiters(const NotificationServerInfo& info)
{
    auto waiting = std::exchange(m_waitingForCapabilities, {});
    for (auto& [waiter, fn] : waiting) {
        if (waiter)
            fn(info);
    }
}

void DBusNotifier::post(const NotificationRequest& request, QObject* context, PostCompletion done)
{
    QPointer<QObject> guard(context);
    withCapabilities(
        this, [this, request, guard, done = std::move(done)](const NotificationServerInfo& info) mutable {
            if (!guard)
                return;
            if (!info.answered) {
                done(info.errorText);
                return;
            }
            sendNotify(request, info.supports(QStringLiteral("body-markup")), guard, std::move(done));
        });
}

void DBusNotifier::sendNotify(const NotificationRequest& request, bool markup, QObject* context,
                              PostCompletion done)
{
    QDBusMessage call = methodCall(QStringLiteral("Notify"));
    call << applicationName << uint(0) << QString() << request.title
         << (markup ? escapeMarkup(request.body) : request.body) << actionListFor(request.category)
         << QVariantMap() << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call, callTimeoutMs), this);
    QPointer<QObject> guard(context);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request, guard, done = std::move(done)](QDBusPendingCallWatcher* pending) {
                pending->deleteLater();
                const QDBusPendingReply<uint> reply = *pending;
                if (reply.isError()) {
                    // The server may have gone; ask again next time.
                    m_capabilities.reset();
                    if (guard)
                        done(reply.error().message());
                    return;
                }
                m_identifiers.insert(reply.value(), request.identifier);
                m_categoriesById.insert(request.identifier, request.category);
                if (guard)
                    done(std::nullopt);
            });
}

QStringList DBusNotifier::actionListFor(const QString& category) const
{
    QStringList actions;
    const NotificationCategory* found = categoryNamed(category);
    if (!found)
        return actions;
    for (const NotificationAction& action : found->actions)
        actions << action.identifier << action.title;
    // A click on the notification itself arrives as this action.
    actions << defaultActionKey() << QString();
    return actions;
}

const NotificationCategory* DBusNotifier::categoryNamed(const QString& identifier) const
{
    if (identifier.isEmpty())
        return nullptr;
    for (const NotificationCategory& category : m_categories) {
        if (category.identifier == identifier)
            return &category;
    }
    return nullptr;
}

void DBusNotifier::onActionInvoked(uint serverId, const QString& actionKey)
{
    const auto it = m_identifiers.constFind(serverId);
    if (it == m_identifiers.cend())
        return; // another program's notification
    const QString identifier = *it;
    // The action answers the notification: the close that servers send after it is no dismissal.
    m_identifiers.erase(it);
    const QString category = m_categoriesById.take(identifier);
    if (const NotificationCategory* found = categoryNamed(category)) {
        for (const NotificationAction& action : found->actions) {
            if (action.identifier == actionKey && action.bringsProgramForward)
                Q_EMIT bringForwardRequested();
        }
    }
    Q_EMIT actionInvoked(identifier, actionKey);
}

void DBusNotifier::onNotificationClosed(uint serverId, uint reason)
{
    const auto it = m_identifiers.constFind(serverId);
    if (it == m_identifiers.cend())
        return;
    const QString identifier = *it;
    m_identifiers.erase(it);
    m_categoriesById.remove(identifier);
    if (reason == closedByUser)
        Q_EMIT dismissed(identifier);
}

void DBusNotifier::onServerOwnerChanged()
{
    // A new server numbers its notifications afresh and may render differently.
    m_capabilities.reset();
    m_identifiers.clear();
    m_categoriesById.clear();
}

} // namespace pondra
