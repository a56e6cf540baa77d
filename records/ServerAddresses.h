#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace pondra {

/**
 * Every server address, derived afresh at each call from the current base
 * address and API token (read through the getters; nothing is kept). An
 * address that the URL parser refuses comes back as none, so the caller
 * fails that one request or connection attempt; the refusal is logged once
 * for each base address, however often it is asked for (the path monitor
 * asks every few seconds).
 */
class ServerAddresses final
{
public:
    ServerAddresses(std::function<QString()> serverBaseURL, std::function<QString()> apiToken);

    /// Trailing "/" removed; "http://" or "https://" kept; otherwise
    /// "http://" for hosts beginning with "localhost" and "https://" for all others.
    static QString normalize(const QString& base);
    /// The token as it goes into the WebSocket query: unchanged when it is made
    /// of unreserved characters, percent-encoded otherwise.
    static QString queryToken(const QString& token);

    QString normalizedBaseURL() const;
    std::optional<QUrl> serverURL() const;
    std::optional<QUrl> ringURL() const;
    std::optional<QUrl> ringResponseURL() const;
    std::optional<QUrl> teamsURL() const;
    /// Writes the three "[WS URL Debug]" lines at every call.
    std::optional<QUrl> wsURL() const;

private:
    std::optional<QUrl> endpoint(const char* path) const;
    /// Parses `text` in strict mode; none when refused, with an error line on
    /// the App log unless this base was refused before.
    std::optional<QUrl> parse(const QString& text) const;

    std::function<QString()> m_serverBaseURL;
    std::function<QString()> m_apiToken;
    /// The base address whose refusal was logged last.
    mutable std::optional<QString> m_refusedBase;
};

} // namespace pondra
