#pragma once

#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

#include <optional>

namespace pondra {

/// One reading of the now-playing helper, as its line decodes.
struct NowPlayingInfo
{
    bool playing = false;
    QString title;
    QString artist;
    QString album;
    std::optional<QString> error;

    /// The record of one helper's whole output, or nothing when it is not
    /// exactly one object with the members of the right types.
    static std::optional<NowPlayingInfo> decode(const QByteArray& output);
};

/// Where the helper script is shipped: its full path, or nothing when the
/// program cannot tell where its own files are.
std::optional<QString> defaultNowPlayingScriptPath();

/// Runs the now-playing helper every 5 s and publishes the track while the
/// player plays. Main thread only.
class NowPlayingMonitor final : public QObject
{
    Q_OBJECT

public:
    Owned<QString, NowPlayingMonitor> currentTrack;
    Owned<QString, NowPlayingMonitor> currentArtist;
    Owned<bool, NowPlayingMonitor> isPlaying{false};

    static constexpr auto pollInterval = std::chrono::seconds(5);
    static constexpr auto helperTimeout = std::chrono::seconds(8);
    static constexpr qint64 maxOutputBytes = 64 * 1024;

    explicit NowPlayingMonitor(Scheduler& scheduler = RealScheduler::instance(),
                               QString interpreterPath = QStringLiteral("/usr/bin/perl"),
                               std::optional<QString> scriptPath = defaultNowPlayingScriptPath(),
                               QObject* parent = nullptr);
    ~NowPlayingMonitor() override;

    /// "Artist - Track", the track alone without an artist, empty without a track.
    QString nowPlayingText() const;
    /// Whether a helper process is running now.
    bool isHelperRunning() const { return m_helper != nullptr; }

Q_SIGNALS:
    /// Any published value was assigned.
    void changed();

private:
    void fetchNowPlayingInfo();
    void onHelperOutput();
    void onHelperFinished();
    void onHelperError(QProcess::ProcessError error);
    void onHelperTimeout();
    void failHelper(const QString& reason);
    void endHelper();
    void updateNowPlaying(const std::optional<NowPlayingInfo>& info);

    Scheduler& m_scheduler;
    const QString m_interpreterPath;
    std::optional<QString> m_helperScriptPath;
    TimerHandle m_pollTimer;
    QProcess* m_helper = nullptr;
    TimerHandle m_helperDeadline;
    QByteArray m_output;
    bool m_helperFailed = false;
};

} // namespace pondra
