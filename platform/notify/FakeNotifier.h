#pragma once

#include "platform/notify/Notifier.h"

#include <QPointer>

#include <vector>

namespace pondra {

/// A notifier for tests: records what is posted, answers at once (or when the
/// test says so), and lets the test play the user's actions.
class FakeNotifier final : public Notifier
{
    Q_OBJECT
public:
    explicit FakeNotifier(QObject* parent = nullptr) : Notifier(parent) {}

    void setCategories(const QList<NotificationCategory>& categories) override { m_categories = categories; }
    void queryServer(QObject* context, InfoCompletion done) override;
    void post(const NotificationRequest& request, QObject* context, PostCompletion done) override;

    /// What `queryServer` answers.
    void setServerInfo(const NotificationServerInfo& info) { m_info = info; }
    /// Every later post fails with this text; none to succeed again.
    void setPostError(const std::optional<QString>& error) { m_postError = error; }
    /// Posts wait for `completePendingPosts()` instead of answering at once.
    void setHoldPosts(bool hold) { m_holdPosts = hold; }
    void completePendingPosts();

    const QList<NotificationCategory>& categories() const { return m_categories; }
    const QList<NotificationRequest>& posted() const { return m_posted; }
    int serverQueries() const { return m_serverQueries; }

    void invokeAction(const QString& identifier, const QString& actionKey)
    {
        Q_EMIT actionInvoked(identifier, actionKey);
    }
    void dismiss(const QString& identifier) { Q_EMIT dismissed(identifier); }

private:
    QList<NotificationCategory> m_categories;
    QList<NotificationRequest> m_posted;
    NotificationServerInfo m_info{true, {QStringLiteral("body"), QStringLiteral("actions")}, {}};
    std::optional<QString> m_postError;
    bool m_holdPosts = false;
    std::vector<std::pair<QPointer<QObject>, PostCompletion>> m_pending;
    int m_serverQueries = 0;
};

} // namespace pondra
