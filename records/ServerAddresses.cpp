#include "records/ServerAddresses.h"

#include "platform/core/Log.h"
#include "platform/http/ApiToken.h"

namespace pondra {

namespace {
bool isUnreserved(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-' ||
           u == u'.' || u == u'_' || u == u'~';
}
} // namespace

ServerAddresses::ServerAddresses(std::function<QString()> serverBaseURL, std::function<QString()> apiToken)
    : m_serverBaseURL(std::move(serverBaseURL)), m_apiToken(std::move(apiToken))
{
}

QString ServerAddresses::normalize(const QString& base)
{
    QString text = base;
    while (text.endsWith(u'/'))
        text.chop(1);
    if (text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("https://")))
        return text;
    if (text.startsWith(QLatin1String("localhost")))
        return QStringLiteral("http://") + text;
    return QStringLiteral("https://") + text;
}

QString ServerAddresses::queryToken(const QString& token)
{
    if (std::all_of(token.begin(), token.end(), isUnreserved))
        return token;
    return QString::fromLatin1(QUrl::toPercentEncoding(token));
}

QString ServerAddresses::normalizedBaseURL() const
{
    return normalize(m_serverBaseURL());
}

std::optional<QUrl> ServerAddresses::parse(const QString& text) const
{
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && !url.host().isEmpty()) {
        m_refusedBase.reset();
        return url;
    }
    const QString base = m_serverBaseURL();
    if (m_refusedBase != base) {
        m_refusedBase = base;
        logError(lcApp, "Refusing invalid server address: %s", maskTokenInUrl(text));
    }
    return std::nullopt;
}

std::optional<QUrl> ServerAddresses::endpoint(const char* path) const
{
    return parse(normalizedBaseURL() + QLatin1String(path));
}

std::optional<QUrl> ServerAddresses::serverURL() const
{
    return endpoint("/pondra/update");
}

std::optional<QUrl> ServerAddresses::ringURL() const
{
    return endpoint("/pondra/ring");
}

std::optional<QUrl> ServerAddresses::ringResponseURL() const
{
    return endpoint("/pondra/ring-response");
}

std::optional<QUrl> ServerAddresses::teamsURL() const
{
    return endpoint("/pondra/teams");
}

std::optional<QUrl> ServerAddresses::wsURL() const
{
    QString base = normalizedBaseURL();
    base.replace(QLatin1String("https://"), QLatin1String("wss://"));
    base.replace(QLatin1String("http://"), QLatin1String("ws://"));

    const QString token = m_apiToken();
    const bool isPlaceholder = token == QLatin1String(apiTokenPlaceholder);
    logInfo(lcApp, "[WS URL Debug] apiToken.isEmpty=%{bool}d, apiToken.count=%ld, isPlaceholder=%{bool}d",
            token.isEmpty(), token.size(), isPlaceholder);
    logInfo(lcApp, "[WS URL Debug] apiToken prefix: %s...", secretPrefix(token));

    if (isUsableApiToken(token)) {
        const auto url = parse(base + QLatin1String("/pondra/ws?token=") + queryToken(token));
        if (url) {
            const QString shown = maskTokenInUrl(url->toString(QUrl::FullyEncoded));
            logInfo(lcApp, "[WS URL Debug] Using authenticated URL: %s...", shown.left(60));
        }
        return url;
    }
    logError(lcApp, "[WS URL Debug] Using UNAUTHENTICATED URL (no token)");
    return parse(base + QLatin1String("/pondra/ws"));
}

} // namespace pondra
