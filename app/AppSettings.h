#pragma once

#include "platform/core/Published.h"

#include <QString>

#include <functional>

namespace pondra {

class Clock;
class SettingsStore;

/// The moment the status was last given a non-empty text (a date).
inline constexpr char userStatusUpdatedAtKey[] = "userStatusUpdatedAt";

class AppSettings;

/// A published setting as the outside sees it: readable and observable; only
/// `AppSettings` assigns it, so that every assignment runs its effects.
template <typename T> using PublishedSetting = Owned<T, AppSettings>;

/// What assigning a setting sets off beyond saving it; each runs on the main
/// thread after the value is stored, published and saved.
struct SettingsEffects
{
    /// An update request (unforced here) to the server connection.
    std::function<void(bool forceUpdate)> sendUpdate;
    /// The "join" message with the current team.
    std::function<void()> sendWebSocketJoin;
    /// Rebuild the server connection with the current address and token.
    std::function<void()> reconnect;
    /// Fetch the list of teams again.
    std::function<void()> fetchTeams;
    /// Re-arm the auto-retake timer from the current minutes.
    std::function<void()> setupAutoRetakeTimer;
};

/**
 * The user's settings: loaded once from the store at construction (saving
 * nothing but a newly made "userId"), then the truth for the rest of the run.
 * Every assignment, also of an unchanged value, publishes the value, saves it
 * and runs its effects in a fixed order.
 */
class AppSettings final
{
public:
    /// `onChange` runs after each assignment is stored and before its
    /// subscribers hear of it (the owner's change signal).
    AppSettings(SettingsStore& store, const Clock& clock, SettingsEffects effects,
                std::function<void()> onChange = {});
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    /// The compiled-in defaults.
    static QString defaultServerHost();
    static QString defaultApiToken();
    static QString defaultTeamName() { return QStringLiteral("Brask"); }

    const QString& userId() const { return m_userId; }

    PublishedSetting<QString>& userName() { return m_userName; }
    PublishedSetting<QString>& userEmail() { return m_userEmail; }
    PublishedSetting<QString>& teamName() { return m_teamName; }
    PublishedSetting<QString>& serverBaseURL() { return m_serverBaseURL; }
    PublishedSetting<QString>& apiToken() { return m_apiToken; }
    PublishedSetting<QString>& userStatus() { return m_userStatus; }
    PublishedSetting<bool>& includeNowPlaying() { return m_includeNowPlaying; }
    PublishedSetting<qint64>& autoRetakeMinutes() { return m_autoRetakeMinutes; }

    void setUserName(const QString& value);
    void setUserEmail(const QString& value);
    void setTeamName(const QString& value);
    void setServerBaseURL(const QString& value);
    void setApiToken(const QString& value);
    void setUserStatus(const QString& value);
    void setIncludeNowPlaying(bool value);
    void setAutoRetakeMinutes(qint64 value);

    bool hasUserName() const { return !m_userName.get().isEmpty(); }
    bool hasUserEmail() const { return !m_userEmail.get().isEmpty(); }

private:
    void load();
    static void run(const std::function<void()>& effect);

    SettingsStore& m_store;
    const Clock& m_clock;
    SettingsEffects m_effects;

    QString m_userId;
    PublishedSetting<QString> m_userName;
    PublishedSetting<QString> m_teamName;
    PublishedSetting<QString> m_userEmail;
    PublishedSetting<QString> m_serverBaseURL;
    PublishedSetting<QString> m_apiToken;
    PublishedSetting<QString> m_userStatus;
    PublishedSetting<bool> m_includeNowPlaying;
    PublishedSetting<qint64> m_autoRetakeMinutes;
};

} // namespace pondra
