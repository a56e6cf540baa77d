#include "app/AppTimers.h"

#include "app/AppSettings.h"
#include "app/StatusCutoff.h"
#include "platform/core/Log.h"
#include "platform/core/SettingsStore.h"
#include "platform/core/Uuid.h"
#include "platform/notify/Notifier.h"

#include <limits>

namespace pondra {

namespace {
// The longest period a timer of the platform can hold (about 24.8 days).
constexpr qint64 longestPeriodMs = std::numeric_limits<int>::max();

QString describeDate(const QDateTime& moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}
} // namespace

AppTimers::AppTimers(Scheduler& scheduler, SettingsStore& store, Notifier& notifier, AppTimerHooks hooks,
                     QObject* parent)
    : QObject(parent), m_scheduler(scheduler), m_store(store), m_notifier(notifier), m_hooks(std::move(hooks))
{
}

void AppTimers::setupAutoRetakeTimer()
{
    m_autoRetakeTimer.cancel();
    m_autoRetakeTimer = {};
    const qint64 minutes = m_hooks.autoRetakeMinutes ? m_hooks.autoRetakeMinutes() : 0;
    if (minutes <= 0)
        return;
    // Periods beyond what a timer can hold are held at the longest one rather than wrapping.
    const qint64 periodMs = minutes > longestPeriodMs / 60'000 ? longestPeriodMs : minutes * 60'000;
    m_autoRetakeTimer = m_scheduler.every(milliseconds(periodMs), this, [this] {
        // The tick's work runs on a later turn, as its own task.
        m_scheduler.post(this, [this] { onAutoRetakeTick(); });
    });
}

void AppTimers::onAutoRetakeTick()
{
    if (!m_hooks.isPondraMode || !m_hooks.isPondraMode())
        return; // away: no photo is taken
    if (m_hooks.capturePondra)
        m_hooks.capturePondra();
}

void AppTimers::setupStatusStalenessTimer()
{
    m_statusStalenessTimer.cancel();
    m_statusStalenessTimer = {};
    checkStatusStaleness();
    m_statusStalenessTimer = m_scheduler.every(
        stalenessPeriod, this, [this] { m_scheduler.post(this, [this] { checkStatusStaleness(); }); });
}

void AppTimers::checkStatusStaleness()
{
    const QString status = m_hooks.userStatus ? m_hooks.userStatus() : QString();
    if (status.isEmpty())
        return;
    const QDateTime now = m_scheduler.now();
    const std::optional<QDateTime> cutoff = statusCutoff(now, m_scheduler.timeZone());
    if (!cutoff)
        return;
    // Without a stamp the status counts as set just now.
    const QDateTime updatedAt = m_store.date(QLatin1String(userStatusUpdatedAtKey)).value_or(now);
    if (!(updatedAt < *cutoff))
        return;

    logInfo(lcApp, "Clearing stale status: '%s' (set at %s, past %s)", status, describeDate(updatedAt),
            describeDate(*cutoff));
    NotificationRequest request;
    request.identifier = QLatin1String(bundleIdentifier) + QStringLiteral(".statusCleared.") + newUuidText();
    request.title = QStringLiteral("Status Cleared Overnight");
    request.body =
        QStringLiteral("Your status \"") + status + QStringLiteral("\" was automatically cleared.");
    m_notifier.post(request, this, [](const std::optional<QString>& error) {
        if (error)
            logError(lcApp, "Failed to post status cleared notification: %@", *error);
    });
    // Cleared whether or not the notification could be shown.
    if (m_hooks.setUserStatus)
        m_hooks.setUserStatus(QString());
}

void AppTimers::checkEmailOnStartup()
{
    if (m_hooks.hasUserName && m_hooks.hasUserName())
        return;
    m_scheduler.after(settingsPromptDelay, this, [this] {
        if (m_hooks.openSettings)
            m_hooks.openSettings();
    });
}

} // namespace pondra
