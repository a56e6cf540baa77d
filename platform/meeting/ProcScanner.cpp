#include "platform/meeting/ProcScanner.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace pondra {

namespace {

class Dir final
{
public:
    explicit Dir(const QByteArray& path) : m_dir(opendir(path.constData())) {}
    Dir(int parentFd, const char* name)
    {
        const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0 && !(m_dir = fdopendir(fd)))
            close(fd);
    }
    ~Dir()
    {
        if (m_dir)
            closedir(m_dir);
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    explicit operator bool() const { return m_dir != nullptr; }
    int fd() const { return dirfd(m_dir); }
    dirent* next() { return readdir(m_dir); }

private:
    DIR* m_dir = nullptr;
};

bool parsePid(const char* name, qint64* pid)
{
    if (!*name)
        return false;
    qint64 value = 0;
    for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
    }
    *pid = value;
    return true;
}

QByteArray readLink(int dirFd, const char* name)
{
    char buffer[512];
    const ssize_t n = readlinkat(dirFd, name, buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
}

QByteArray readSmallFile(const QByteArray& path)
{
    const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray content;
    char buffer[4096];
    ssize_t n;
    while (content.size() < 64 * 1024 && (n = read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, int(n));
    close(fd);
    return content;
}

QString executableBaseName(const QByteArray& pidDir, QByteArray exe)
{
    if (exe.endsWith(" (deleted)"))
        exe.chop(int(std::strlen(" (deleted)")));
    if (!exe.isEmpty())
        return QFile::decodeName(exe.mid(exe.lastIndexOf('/') + 1));
    // No executable to read (a process in another mount namespace, say):
    // the kernel's short name is all there is.
    return QFile::decodeName(readSmallFile(pidDir + "/comm").trimmed());
}

// Flatpak puts its metadata at the root of every sandbox.
QString flatpakApplicationId(const QByteArray& pidDir)
{
    const QByteArray info = readSmallFile(pidDir + "/root/.flatpak-info");
    if (info.isEmpty())
        return {};
    bool inApplication = false;
    for (const QByteArray& rawLine : info.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('['))
            inApplication = line == "[Application]";
        else if (inApplication && line.startsWith("name="))
            return QString::fromUtf8(line.mid(5));
    }
    return {};
}

} // namespace

bool isV4l2CaptureNode(const QByteArray& devicePath)
{
    const int fd = open(devicePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    v4l2_capability caps{};
    const bool ok = ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0;
    close(fd);
    if (!ok)
        return false;
    const quint32 deviceCaps = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    return (deviceCaps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) != 0;
}

ProcScanner::ProcScanner(QByteArray procRoot, CaptureNodeCheck isCaptureNode)
    : m_root(std::move(procRoot)), m_isCaptureNode(std::move(isCaptureNode))
{
}

std::vector<qint64> ProcScanner::ownProcessIds() const
{
    std::vector<qint64> pids;
    Dir root(m_root);
    if (!root)
        return pids;
    const uid_t me = geteuid();
    while (dirent* entry = root.next()) {
        qint64 pid = 0;
        if (!parsePid(entry->d_name, &pid))
            continue;
        struct stat st{};
        if (fstatat(root.fd(), entry->d_name, &st, 0) == 0 && st.st_uid == me)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

bool ProcScanner::isCapture(const QByteArray& devicePath)
{
    // Capabilities of a node do not change while it exists; ask each node once.
    struct stat st{};
    const QByteArray key = devicePath + '@' + QByteArray::number(quint64(stat(devicePath.constData(), &st) == 0 ? st.st_rdev : 0));
    {
        std::lock_guard lock(m_cacheMutex);
        const auto it = m_captureCache.find(key);
        if (it != m_captureCache.end())
            return it->second;
    }
    const bool capture = m_isCaptureNode && m_isCaptureNode(devicePath);
    std::lock_guard lock(m_cacheMutex);
    m_captureCache[key] = capture;
    return capture;
}

bool ProcScanner::isCameraInUse(const std::vector<qint64>& pids)
{
    static constexpr char videoPrefix[] = "/dev/video";
    for (qint64 pid : pids) {
        Dir fds(m_root + '/' + QByteArray::number(pid) + "/fd");
        if (!fds)
            continue;
        while (dirent* entry = fds.next()) {
            if (entry->d_name[0] == '.')
                continue;
            char target[64];
            const ssize_t n = readlinkat(fds.fd(), entry->d_name, target, sizeof target - 1);
            if (n <= 0 || std::strncmp(target, videoPrefix, sizeof videoPrefix - 1) != 0)
                continue;
            if (isCapture(QByteArray(target, int(n))))
                return true;
        }
    }
    return false;
}

QString ProcScanner::flatpakIdOf(qint64 pid, const QByteArray& pidDir, const QByteArray& exeLink)
{
    struct stat st{};
    if (stat(pidDir.constData(), &st) != 0)
        return {};
    const QByteArray identity = QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.'
        + QByteArray::number(qint64(st.st_ctim.tv_nsec)) + ' ' + exeLink;
    const auto it = m_sandboxCache.find(pid);
    if (it != m_sandboxCache.end() && it->second.identity == identity)
        return it->second.flatpakId;
    const QString id = flatpakApplicationId(pidDir);
    m_sandboxCache[pid] = {identity, id};
    return id;
}

std::vector<RunningApplication> ProcScanner::runningApplications(const std::vector<qint64>& pids)
{
    std::vector<RunningApplication> apps;
    apps.reserve(pids.size());
    std::map<qint64, SandboxEntry> stillRunning;
    for (qint64 pid : pids) {
        const QByteArray dir = m_root + '/' + QByteArray::number(pid);
        const QByteArray exe = readLink(AT_FDCWD, (dir + "/exe").constData());
        RunningApplication app;
        app.pid = pid;
        app.executableName = executableBaseName(dir, exe);
        app.flatpakId = flatpakIdOf(pid, dir, exe);
        if (auto node = m_sandboxCache.extract(pid))
            stillRunning.insert(std::move(node));
        if (!app.executableName.isEmpty() || !app.flatpakId.isEmpty())
            apps.push_back(std::move(app));
    }
    m_sandboxCache.swap(stillRunning); // forget processes that ended
    return apps;
}

std::vector<qint64> ProcScanner::processesWithNamespacePid(qint64 pid, const std::vector<RunningApplication>& among) const
{
    std::vector<qint64> found;
    for (const RunningApplication& app : among) {
        if (app.flatpakId.isEmpty())
            continue; // only a sandbox has a pid namespace of its own here
        const QByteArray status = readSmallFile(m_root + '/' + QByteArray::number(app.pid) + "/status");
        const int at = status.indexOf("\nNSpid:");
        if (at < 0)
            continue;
        const int end = status.indexOf('\n', at + 1);
        const QList<QByteArray> ids = status.mid(at + 7, end < 0 ? -1 : end - at - 7).simplified().split(' ');
        if (ids.size() >= 2 && ids.last().toLongLong() == pid)
            found.push_back(app.pid);
    }
    return found;
}

} // namespace pondra
