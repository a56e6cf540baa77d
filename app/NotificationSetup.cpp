#include "app/NotificationSetup.h"

#include "platform/core/Log.h"

namespace pondra {

namespace {
// The numbers the log has always shown: authorised / not yet decided, and
// alerts enabled / not supported. Here they stand for "a notification server
// answered" and "it offers actions".
constexpr int authorized = 2;
constexpr int notDetermined = 0;
constexpr int enabled = 2;
constexpr int notSupported = 0;
} // namespace

NotificationCategory ringNotificationCategory()
{
    return {QStringLiteral("RING"),
            {{QStringLiteral("SURE"), QStringLiteral("Sure!"), true},
             {QStringLiteral("LATER"), QStringLiteral("Maybe Later"), false}}};
}

void setupNotifications(Notifier& notifier, QObject* context)
{
    notifier.queryServer(context, [](const NotificationServerInfo& info) {
        logDebug(lcApp, "Notification settings: %ld", info.answered ? authorized : notDetermined);
        logDebug(lcApp, "Alert setting: %ld",
                 info.supports(QStringLiteral("actions")) ? enabled : notSupported);
        logInfo(lcApp, "Notification permission granted: %{bool}d", info.answered);
        if (!info.answered && !info.errorText.isEmpty())
            logError(lcApp, "Notification permission error: %@", info.errorText);
    });
    notifier.setCategories({ringNotificationCategory()});
}

void routeNotificationResponses(
    Notifier& notifier, QObject* context,
    std::function<void(const QString& notificationId, bool accepted)> handleNotificationAction)
{
    QObject::connect(&notifier, &Notifier::actionInvoked, context,
                     [handleNotificationAction](const QString& identifier, const QString& actionKey) {
                         handleNotificationAction(identifier, actionKey != QLatin1String("LATER"));
                     });
    QObject::connect(&notifier, &Notifier::dismissed, context,
                     [handleNotificationAction](const QString& identifier) {
                         handleNotificationAction(identifier, false);
                     });
}

} // namespace pondra
