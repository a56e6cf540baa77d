#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

namespace pondra {

/// A thread of its own with an event loop, for work that blocks (camera
/// sessions) or takes long (face analysis). Posted work runs in order.
class WorkerThread final
{
public:
    explicit WorkerThread(const QString& name);
    /// Lets posted work finish, then ends the thread.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void post(std::function<void()> work);
    /// An object that lives in the worker thread, to parent worker-side objects.
    QObject* context() const { return m_context; }

private:
    QThread m_thread;
    QObject* m_context = nullptr;
};

/// Runs `fn` on the thread of `context` (queued), unless `context` is gone.
void postTo(QObject* context, std::function<void()> fn);

} // namespace pondra
