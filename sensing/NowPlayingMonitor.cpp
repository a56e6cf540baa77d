#include "NowPlayingMonitor.h"

#include "platform/core/Log.h"
#include "platform/core/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

namespace pondra {

namespace {
const QString scriptName = QStringLiteral("get-now-playing.pl");
} // namespace

std::optional<NowPlayingInfo> NowPlayingInfo::decode(const QByteArray& output)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(output, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue playing = object.value(QLatin1String("playing"));
    const QJsonValue title = object.value(QLatin1String("title"));
    const QJsonValue artist = object.value(QLatin1String("artist"));
    const QJsonValue album = object.value(QLatin1String("album"));
    const QJsonValue error = object.value(QLatin1String("error"));
    if (!playing.isBool() || !title.isString() || !artist.isString() || !album.isString())
        return std::nullopt;
    if (!error.isUndefined() && !error.isNull() && !error.isString())
        return std::nullopt;
    NowPlayingInfo info;
    info.playing = playing.toBool();
    info.title = title.toString();
    info.artist = artist.toString();
    info.album = album.toString();
    if (error.isString())
        info.error = error.toString();
    return info;
}

std::optional<QString> defaultNowPlayingScriptPath()
{
    if (QString found = resourcePath(scriptName); !found.isEmpty())
        return found;
    // Not shipped where we look: name the place an installed program keeps
    // it, so the log says where it was expected.
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (programFolder.isEmpty())
        return std::nullopt;
    return QDir::cleanPath(programFolder + QStringLiteral("/../lib/pondra/") + scriptName);
}

NowPlayingMonitor::NowPlayingMonitor(Scheduler& scheduler, QString interpreterPath,
                                     std::optional<QString> scriptPath, QObject* parent)
    : QObject(parent), m_scheduler(scheduler), m_interpreterPath(std::move(interpreterPath))
{
    const auto announce = [this] { Q_EMIT changed(); };
    currentTrack.setChangeHook(announce);
    currentArtist.setChangeHook(announce);
    isPlaying.setChangeHook(announce);
    if (!scriptPath) {
        logError(lcNowPlaying, "Could not get app bundle resource path");
    } else if (QFileInfo(*scriptPath).isFile()) {
        m_helperScriptPath = *scriptPath;
        logInfo(lcNowPlaying, "MediaRemote helper found at: %{public}s", *scriptPath);
    } else {
        logError(lcNowPlaying, "MediaRemote helper not found at: %{public}s", *scriptPath);
    }
    m_pollTimer = m_scheduler.every(pollInterval, this, [this] { fetchNowPlayingInfo(); });
    fetchNowPlayingInfo();
}

NowPlayingMonitor::~NowPlayingMonitor()
{
    m_pollTimer.cancel();
    m_helperDeadline.cancel();
    if (m_helper) {
        // Our handlers must not run while the process is torn down.
        m_helper->disconnect(this);
        m_helper->kill();
        m_helper->waitForFinished(1000);
        delete m_helper;
    }
}

QString NowPlayingMonitor::nowPlayingText() const
{
    if (currentTrack.get().isEmpty())
        return {};
    if (currentArtist.get().isEmpty())
        return currentTrack.get();
    return currentArtist.get() + QStringLiteral(" - ") + currentTrack.get();
}

void NowPlayingMonitor::fetchNowPlayingInfo()
{
    // One helper at a time: a tick while one runs is skipped.
    if (!m_helperScriptPath || m_helper)
        return;
    m_output.clear();
    m_helperFailed = false;
    m_helper = new QProcess(this);
    m_helper->setProgram(m_interpreterPath);
    m_helper->setArguments({*m_helperScriptPath});
    m_helper->setStandardErrorFile(QProcess::nullDevice());
    connect(m_helper, &QProcess::readyReadStandardOutput, this, &NowPlayingMonitor::onHelperOutput);
    connect(m_helper, &QProcess::finished, this, &NowPlayingMonitor::onHelperFinished);
    connect(m_helper, &QProcess::errorOccurred, this, &NowPlayingMonitor::onHelperError);
    m_helperDeadline = m_scheduler.after(helperTimeout, this, [this] { onHelperTimeout(); });
    m_helper->start(QIODevice::ReadOnly);
}

void NowPlayingMonitor::onHelperOutput()
{
    if (!m_helper || m_helperFailed)
        return;
    m_output += m_helper->readAllStandardOutput();
    if (m_output.size() > maxOutputBytes)
        failHelper(QStringLiteral("Helper output exceeded %1 bytes").arg(maxOutputBytes));
}

void NowPlayingMonitor::onHelperFinished()
{
    // The exit status is not looked at: the output alone decides.
    onHelperOutput();
    const bool decodable = !m_helperFailed;
    const QByteArray output = std::exchange(m_output, {});
    endHelper();
    if (decodable)
        updateNowPlaying(NowPlayingInfo::decode(output));
}

void NowPlayingMonitor::onHelperError(QProcess::ProcessError error)
{
    // A helper that never started sends no finished(): free the slot here,
    // or polling would stop for good.
    if (error != QProcess::FailedToStart || !m_helper)
        return;
    failHelper(m_helper->errorString());
    endHelper();
}

void NowPlayingMonitor::onHelperTimeout()
{
    if (m_helper && !m_helperFailed)
        failHelper(QStringLiteral("Helper did not finish within %1 s").arg(helperTimeout.count()));
}

// Logs once and kills the helper; its finished() then frees the slot.
void NowPlayingMonitor::failHelper(const QString& reason)
{
    m_helperFailed = true;
    m_output.clear();
    logError(lcNowPlaying, "Failed to run helper: %{public}s", reason);
    if (m_helper->state() != QProcess::NotRunning)
        m_helper->kill();
}

void NowPlayingMonitor::endHelper()
{
    m_helperDeadline.cancel();
    m_helper->disconnect(this);
    m_helper->deleteLater();
    m_helper = nullptr;
}

void NowPlayingMonitor::updateNowPlaying(const std::optional<NowPlayingInfo>& info)
{
    if (!info)
        return;
    if (info->error) {
        logError(lcNowPlaying, "Helper error: %{public}s", *info->error);
        return;
    }
    const QString track = info->playing ? info->title : QString();
    const QString artist = info->playing ? info->artist : QString();
    if (track == currentTrack.get() && artist == currentArtist.get() && info->playing == isPlaying.get())
        return;
    currentTrack.set(track);
    currentArtist.set(artist);
    isPlaying.set(info->playing);
    if (info->playing && !track.isEmpty())
        logInfo(lcNowPlaying, "Now Playing: %{public}s - %{public}s", artist, track);
}

} // namespace pondra
