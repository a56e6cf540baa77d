#include "PulseServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>
#include <QThread>

namespace pondra::test {

PulseServer::PulseServer() = default;

PulseServer::~PulseServer()
{
    kill();
}

QString PulseServer::nullSink(const QString& name, const QString& description, const QString& bus)
{
    QString properties = QStringLiteral("device.description='%1'").arg(description);
    if (!bus.isEmpty())
        properties += QStringLiteral(" device.bus=%1").arg(bus);
    return QStringLiteral("load-module module-null-sink sink_name=%1 sink_properties=\"%2\"").arg(name, properties);
}

QByteArray PulseServer::address() const
{
    return "unix:" + QFile::encodeName(m_dir.path() + QStringLiteral("/native"));
}

QProcessEnvironment PulseServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), QString::fromUtf8(address()));
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.path() + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("PULSE_STATE_PATH"), m_dir.path() + QStringLiteral("/state"));
    return env;
}

bool PulseServer::start(const QStringList& scriptLines)
{
    if (!m_dir.isValid())
        return false;
    m_scriptLines = scriptLines;
    return restart();
}

bool PulseServer::restart()
{
    kill();
    const QString scriptPath = m_dir.path() + QStringLiteral("/server.pa");
    QFile script(scriptPath);
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QStringList lines{QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1/native")
                          .arg(m_dir.path())};
    lines += m_scriptLines;
    script.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    script.close();
    QFile::remove(m_dir.path() + QStringLiteral("/native"));

    m_daemon = std::make_unique<QProcess>();
    m_daemon->setProcessEnvironment(environment());
    m_daemon->setStandardOutputFile(m_dir.path() + QStringLiteral("/daemon.log"), QIODevice::Append);
    m_daemon->setStandardErrorFile(m_dir.path() + QStringLiteral("/daemon.log"), QIODevice::Append);
    m_daemon->start(QStringLiteral("pulseaudio"),
                    {QStringLiteral("-n"), QStringLiteral("-F"), scriptPath, QStringLiteral("--exit-idle-time=-1"),
                     QStringLiteral("--daemonize=no"), QStringLiteral("--use-pid-file=no"), QStringLiteral("--system=no"),
                     QStringLiteral("--disallow-exit"), QStringLiteral("--log-target=stderr")});
    if (!m_daemon->waitForStarted(10'000))
        return false;
    QDeadlineTimer deadline(15'000);
    while (!deadline.hasExpired()) {
        if (!isRunning())
            return false;
        if (QFile::exists(m_dir.path() + QStringLiteral("/native")) && pactl({QStringLiteral("info")}))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void PulseServer::kill()
{
    if (!m_daemon)
        return;
    if (m_daemon->state() != QProcess::NotRunning) {
        m_daemon->kill();
        m_daemon->waitForFinished(5'000);
    }
    m_daemon.reset();
}

bool PulseServer::isRunning() const
{
    return m_daemon && m_daemon->state() != QProcess::NotRunning;
}

bool PulseServer::pactl(const QStringList& arguments, QString* output) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10'000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

ClientProcess PulseServer::startClient(const QString& program, QStringList arguments, bool feedSilence) const
{
    ClientProcess process(new QProcess);
    process->setProcessEnvironment(environment());
    if (feedSilence)
        process->setStandardInputFile(QStringLiteral("/dev/zero"));
    else
        process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted(10'000))
        return nullptr;
    return process;
}

ClientProcess PulseServer::play(const QString& device) const
{
    QStringList args{QStringLiteral("--playback"), QStringLiteral("--raw")};
    if (!device.isEmpty())
        args << QStringLiteral("--device=") + device;
    return startClient(QStringLiteral("pacat"), args, true);
}

ClientProcess PulseServer::record(const QString& device) const
{
    QStringList args{QStringLiteral("--record"), QStringLiteral("--raw")};
    if (!device.isEmpty())
        args << QStringLiteral("--device=") + device;
    return startClient(QStringLiteral("pacat"), args, false);
}

void StopAndDelete::operator()(QProcess* process) const
{
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(2'000)) {
            process->kill();
            process->waitForFinished(2'000);
        }
    }
    delete process;
}

} // namespace pondra::test
