#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace pondra {

/// One button a notification of a category offers.
struct NotificationAction
{
    QString identifier;
    QString title;
    /// Choosing it brings the program to the front.
    bool bringsProgramForward = false;
};

/// A named set of actions that notifications refer to by the category name.
struct NotificationCategory
{
    QString identifier;
    QList<NotificationAction> actions;
};

/// One local notification, delivered at once with the server's default sound.
struct NotificationRequest
{
    /// Our own identifier; actions and dismissals are reported under it.
    QString identifier;
    QString title;
    /// Plain text; the backend escapes it where the server renders markup.
    QString body;
    /// A registered category whose actions the notification carries, or empty.
    QString category;
};

/// What the notification server told us about itself.
struct NotificationServerInfo
{
    /// A server answered our question.
    bool answered = false;
    QStringList capabilities;
    /// Why nobody answered, when nobody did.
    QString errorText;

    bool supports(const QString& capability) const { return capabilities.contains(capability); }
};

/**
 * Local notifications with actions. Every call is asynchronous: the answers
 * come later on the main thread, through the callbacks (which do not run once
 * their context object is gone) and the signals.
 */
class Notifier : public QObject
{
    Q_OBJECT
public:
    using PostCompletion = std::function<void(const std::optional<QString>& error)>;
    using InfoCompletion = std::function<void(const NotificationServerInfo& info)>;

    explicit Notifier(QObject* parent = nullptr) : QObject(parent) {}
    ~Notifier() override = default;

    /// Replaces the registered categories.
    virtual void setCategories(const QList<NotificationCategory>& categories) = 0;
    /// Asks the notification server who it is and what it can do.
    virtual void queryServer(QObject* context, InfoCompletion done) = 0;
    /// Shows a notification; `done` gets no error once the server took it.
    virtual void post(const NotificationRequest& request, QObject* context, PostCompletion done) = 0;

    /// The action key of a click on the notification itself.
    static QString defaultActionKey() { return QStringLiteral("default"); }

Q_SIGNALS:
    /// The user chose `actionKey` (an action's identifier or `defaultActionKey()`).
    void actionInvoked(const QString& identifier, const QString& actionKey);
    /// The user dismissed the notification without choosing an action.
    void dismissed(const QString& identifier);
    /// An action that brings the program forward was chosen; emitted before actionInvoked.
    void bringForwardRequested();
};

} // namespace pondra
