#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <unistd.h>

namespace pondra::test {

/// A /proc-shaped folder of made-up processes: exe and fd links, comm,
/// status (NSpid) and a Flatpak sandbox's .flatpak-info.
class FakeProcTree final
{
public:
    struct Process
    {
        explicit Process(qint64 id) : pid(id) {}
        Process& withExe(QString v) { exe = std::move(v); return *this; }
        Process& withFds(QStringList v) { fds = std::move(v); return *this; }
        Process& withFlatpak(QString v) { flatpakId = std::move(v); return *this; }
        Process& withNsPids(QList<qint64> v) { nsPids = std::move(v); return *this; }
        Process& withComm(QString v) { comm = std::move(v); return *this; }

        qint64 pid = 0;
        QString exe;            // link target of exe; empty: no link
        QStringList fds;        // link targets of fd/0, fd/1, ...
        QString flatpakId;      // written to root/.flatpak-info
        QList<qint64> nsPids;   // NSpid line; empty: the pid alone
        QString comm;
    };

    FakeProcTree() = default;
    /// The tree in a folder under `base` (e.g. a tmpfs, to time the scan rather than the disk).
    explicit FakeProcTree(const QString& base) : m_dir(base + QStringLiteral("/fakeproc-XXXXXX")) {}

    QByteArray root() const { return QFile::encodeName(m_dir.path()); }

    bool add(const Process& p)
    {
        const QString base = m_dir.path() + QLatin1Char('/') + QString::number(p.pid);
        if (!QDir().mkpath(base + QStringLiteral("/fd")) || !QDir().mkpath(base + QStringLiteral("/root")))
            return false;
        if (!p.exe.isEmpty() && symlink(QFile::encodeName(p.exe).constData(), QFile::encodeName(base + "/exe").constData()) != 0)
            return false;
        for (int i = 0; i < p.fds.size(); ++i) {
            if (symlink(QFile::encodeName(p.fds[i]).constData(),
                        QFile::encodeName(base + "/fd/" + QString::number(i)).constData()) != 0)
                return false;
        }
        if (!p.flatpakId.isEmpty())
            write(base + "/root/.flatpak-info", "[Application]\nname=" + p.flatpakId.toUtf8() + "\nruntime=x\n");
        QByteArray ns = QByteArray::number(p.pid);
        for (qint64 inner : p.nsPids)
            ns += '\t' + QByteArray::number(inner);
        write(base + "/status", "Name:\t" + p.comm.toUtf8() + "\nUmask:\t0022\nNSpid:\t" + ns + "\nNSpgid:\t1\n");
        write(base + "/comm", p.comm.toUtf8() + '\n');
        return true;
    }

    /// Gives a process to another user (the caller must be root).
    bool chown(qint64 pid, uid_t uid) const
    {
        return ::chown(QFile::encodeName(m_dir.path() + QLatin1Char('/') + QString::number(pid)).constData(), uid, uid) == 0;
    }

private:
    static void write(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }

    QTemporaryDir m_dir;
};

} // namespace pondra::test
