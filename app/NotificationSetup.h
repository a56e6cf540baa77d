#pragma once

#include "platform/notify/Notifier.h"

#include <QObject>
#include <QString>

#include <functional>

namespace pondra {

/// The category a ring notification carries: "SURE" (brings the program
/// forward) and "LATER".
NotificationCategory ringNotificationCategory();

/// Registers the ring category as the only one and asks the server about
/// itself without waiting; the answer is only logged.
void setupNotifications(Notifier& notifier, QObject* context);

/// Turns the user's answers to notifications into ring answers: "SURE" and a
/// click accept, "LATER" and a dismissal decline. Ends with `context`.
void routeNotificationResponses(
    Notifier& notifier, QObject* context,
    std::function<void(const QString& notificationId, bool accepted)> handleNotificationAction);

} // namespace pondra
