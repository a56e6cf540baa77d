#include "app/AppSettings.h"

#include "platform/core/Log.h"
#include "platform/core/Scheduler.h"
#include "platform/core/SettingsStore.h"
#include "platform/core/Uuid.h"

namespace pondra {

namespace {
const QString keyUserId = QStringLiteral("userId");
const QString keyUserName = QStringLiteral("userName");
const QString keyUserEmail = QStringLiteral("userEmail");
const QString keyTeamName = QStringLiteral("teamName");
const QString keyServerBaseURL = QStringLiteral("serverBaseURL");
const QString keyApiToken = QStringLiteral("apiToken");
const QString keyUserStatus = QStringLiteral("userStatus");
const QString keyIncludeNowPlaying = QStringLiteral("includeNowPlaying");
const QString keyAutoRetakeMinutes = QStringLiteral("autoRetakeMinutes");
} // namespace

AppSettings::AppSettings(SettingsStore& store, const Clock& clock, SettingsEffects effects,
                         std::function<void()> onChange)
    : m_store(store), m_clock(clock), m_effects(std::move(effects))
{
    load();
    if (onChange) {
        m_userName.setChangeHook(onChange);
        m_teamName.setChangeHook(onChange);
        m_userEmail.setChangeHook(onChange);
        m_serverBaseURL.setChangeHook(onChange);
        m_apiToken.setChangeHook(onChange);
        m_userStatus.setChangeHook(onChange);
        m_includeNowPlaying.setChangeHook(onChange);
        m_autoRetakeMinutes.setChangeHook(onChange);
    }
}

QString AppSettings::defaultServerHost()
{
    return QStringLiteral(PONDRA_DEFAULT_SERVER_HOST);
}

QString AppSettings::defaultApiToken()
{
    return QStringLiteral(PONDRA_DEFAULT_API_TOKEN);
}

void AppSettings::load()
{
    // Nobody observes the values yet and no effect runs: loading saves nothing,
    // except that a first start keeps the identifier it makes.
    if (const auto stored = m_store.text(keyUserId)) {
        m_userId = *stored;
    } else {
        m_userId = newUuidText();
        m_store.setText(keyUserId, m_userId);
    }
    m_userName.set(m_store.text(keyUserName).value_or(QString()));
    m_userEmail.set(m_store.text(keyUserEmail).value_or(QString()));
    m_teamName.set(m_store.text(keyTeamName).value_or(defaultTeamName()));
    m_serverBaseURL.set(m_store.text(keyServerBaseURL).value_or(defaultServerHost()));

    const std::optional<QString> storedToken = m_store.text(keyApiToken);
    const QString token = storedToken.value_or(defaultApiToken());
    m_apiToken.set(token);
    const QString fallback = defaultApiToken();
    logInfo(lcApp, "[Token Init] defaultApiToken: %s... (len=%ld)", secretPrefix(fallback), fallback.size());
    logInfo(lcApp, "[Token Init] UserDefaults token: %s",
            storedToken ? secretPrefix(*storedToken) + QStringLiteral("...") : QStringLiteral("nil"));
    logInfo(lcApp, "[Token Init] Final apiToken: %s... (len=%ld)", secretPrefix(token), token.size());

    m_userStatus.set(m_store.text(keyUserStatus).value_or(QString()));
    m_includeNowPlaying.set(m_store.flag(keyIncludeNowPlaying).value_or(false));
    m_autoRetakeMinutes.set(m_store.integer(keyAutoRetakeMinutes).value_or(0));
}

void AppSettings::run(const std::function<void()>& effect)
{
    if (effect)
        effect();
}

void AppSettings::setUserName(const QString& value)
{
    m_userName.set(value);
    m_store.setText(keyUserName, m_userName.get());
    if (m_effects.sendUpdate)
        m_effects.sendUpdate(false);
}

void AppSettings::setUserEmail(const QString& value)
{
    // The e-mail travels with the next update that goes out and with each ring.
    m_userEmail.set(value);
    m_store.setText(keyUserEmail, m_userEmail.get());
}

void AppSettings::setTeamName(const QString& value)
{
    m_teamName.set(value);
    m_store.setText(keyTeamName, m_teamName.get());
    run(m_effects.sendWebSocketJoin);
    if (m_effects.sendUpdate)
        m_effects.sendUpdate(false);
}

void AppSettings::setServerBaseURL(const QString& value)
{
    m_serverBaseURL.set(value);
    m_store.setText(keyServerBaseURL, m_serverBaseURL.get());
    run(m_effects.reconnect);
    run(m_effects.fetchTeams);
}

void AppSettings::setApiToken(const QString& value)
{
    m_apiToken.set(value);
    m_store.setText(keyApiToken, m_apiToken.get());
    run(m_effects.reconnect);
}

void AppSettings::setUserStatus(const QString& value)
{
    m_userStatus.set(value);
    const QString status = m_userStatus.get();
    m_store.setText(keyUserStatus, status);
    if (status.isEmpty())
        m_store.remove(QLatin1String(userStatusUpdatedAtKey));
    else
        m_store.setDate(QLatin1String(userStatusUpdatedAtKey), m_clock.now());
    if (m_effects.sendUpdate)
        m_effects.sendUpdate(false);
}

void AppSettings::setIncludeNowPlaying(bool value)
{
    m_includeNowPlaying.set(value);
    m_store.setFlag(keyIncludeNowPlaying, m_includeNowPlaying.get());
    if (m_effects.sendUpdate)
        m_effects.sendUpdate(false);
}

void AppSettings::setAutoRetakeMinutes(qint64 value)
{
    m_autoRetakeMinutes.set(value);
    m_store.setInteger(keyAutoRetakeMinutes, m_autoRetakeMinutes.get());
    run(m_effects.setupAutoRetakeTimer);
}

} // namespace pondra
