#include "TeamServerProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QProcess>

namespace pondra::test {

QString TeamServerProcess::defaultToken()
{
    return QStringLiteral(PONDRA_DEFAULT_API_TOKEN);
}

bool TeamServerProcess::start(const QString& token, quint16 port)
{
    m_token = token;
    m_events.clear();
    if (!m_process.start(QStringLiteral(PONDRA_TEAM_SERVER_PATH),
                         {QStringLiteral("--port"), QString::number(port), QStringLiteral("--token"), token,
                          QStringLiteral("--commands")}))
        return false;
    const auto listening = waitForEvent(QStringLiteral("listening"));
    if (!listening)
        return false;
    m_port = quint16(listening->value(QStringLiteral("port")).toInt());
    return m_port != 0;
}

void TeamServerProcess::stop()
{
    m_process.stop();
}

bool TeamServerProcess::restart()
{
    stop();
    const quint16 port = m_port;
    // The port was ours a moment ago; give the system a few tries to free it.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (start(m_token, port))
            return true;
        pumpUntil([] { return false; }, 100);
    }
    return false;
}

QString TeamServerProcess::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QUrl TeamServerProcess::url(const QString& pathAndQuery) const
{
    return QUrl(baseUrl() + pathAndQuery);
}

bool TeamServerProcess::command(const QString& name, QJsonObject arguments)
{
    if (!m_process.process())
        return false;
    arguments.insert(QStringLiteral("cmd"), name);
    m_process.process()->write(QJsonDocument(arguments).toJson(QJsonDocument::Compact) + '\n');
    const qsizetype before = events(QStringLiteral("ack")).size();
    return pumpUntil([&] { return events(QStringLiteral("ack")).size() > before; });
}

void TeamServerProcess::readAvailable()
{
    QProcess* process = m_process.process();
    if (!process)
        return;
    while (process->canReadLine()) {
        const QByteArray line = process->readLine().trimmed();
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            m_events.append(document.object());
    }
}

QList<QJsonObject> TeamServerProcess::events()
{
    readAvailable();
    return m_events;
}

QList<QJsonObject> TeamServerProcess::events(const QString& name)
{
    QList<QJsonObject> matching;
    for (const QJsonObject& e : events()) {
        if (e.value(QStringLiteral("event")).toString() == name)
            matching.append(e);
    }
    return matching;
}

void TeamServerProcess::clearEvents()
{
    readAvailable();
    m_events.clear();
}

std::optional<QJsonObject> TeamServerProcess::waitForEvent(const QString& name, const Predicate& matches, int timeoutMs)
{
    std::optional<QJsonObject> found;
    pumpUntil(
        [&] {
            for (const QJsonObject& e : events(name)) {
                if (!matches || matches(e)) {
                    found = e;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool TeamServerProcess::pumpUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace pondra::test
