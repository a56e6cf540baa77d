#include "XvfbServer.h"

#include <QProcess>

namespace pondra::test {

bool XvfbServer::start()
{
    // -displayfd 1: the server picks a free display and writes its number to
    // standard output once it accepts connections.
    if (!m_server.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                         QStringLiteral("0"), QStringLiteral("1280x1024x24")}))
        return false;
    const QString number = m_server.readLine(20'000);
    bool ok = false;
    number.toInt(&ok);
    if (!ok)
        return false;
    m_display = QLatin1Char(':') + number;
    return true;
}

bool XvfbServer::run(const QString& program, const QStringList& arguments, int timeoutMs) const
{
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    client.setProcessEnvironment(env);
    client.start(program, arguments);
    return client.waitForFinished(timeoutMs) && client.exitStatus() == QProcess::NormalExit &&
           client.exitCode() == 0;
}

} // namespace pondra::test
