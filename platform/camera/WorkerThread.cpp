#include "platform/camera/WorkerThread.h"

#include <QMetaObject>

namespace pondra {

WorkerThread::WorkerThread(const QString& name) : m_context(new QObject)
{
    m_thread.setObjectName(name);
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

WorkerThread::~WorkerThread()
{
    QObject* context = m_context;
    // Worker-side objects must go in their own thread, before it ends.
    QMetaObject::invokeMethod(context, [context] { qDeleteAll(context->children()); }, Qt::QueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete context;
}

void WorkerThread::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
}

void postTo(QObject* context, std::function<void()> fn)
{
    if (context)
        QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

} // namespace pondra
