#include "platform/notify/FakeNotifier.h"

namespace pondra {

void FakeNotifier::queryServer(QObject* context, InfoCompletion done)
{
    ++m_serverQueries;
    if (context)
        done(m_info);
}

void FakeNotifier::post(const NotificationRequest& request, QObject* context, PostCompletion done)
{
    m_posted.append(request);
    if (m_holdPosts) {
        m_pending.emplace_back(QPointer<QObject>(context), std::move(done));
        return;
    }
    if (context)
        done(m_postError);
}

void FakeNotifier::completePendingPosts()
{
    auto pending = std::exchange(m_pending, {});
    for (auto& [context, done] : pending) {
        if (context)
            done(m_postError);
    }
}

} // namespace pondra
