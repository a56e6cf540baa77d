#pragma once

#include <QString>

namespace pondra {

/// The text that stands for a token that was never filled in.
inline constexpr char apiTokenPlaceholder[] = "{{PONDRA_API_TOKEN}}";

/// A token is sent only when it is not empty and not the unfilled placeholder
/// (exact comparison, no trimming). This is the one place that decides it.
inline bool isUsableApiToken(const QString& token)
{
    return !token.isEmpty() && token != QLatin1String(apiTokenPlaceholder);
}

/// "Bearer <token>".
inline QByteArray bearerHeaderValue(const QString& token)
{
    return "Bearer " + token.toUtf8();
}

} // namespace pondra
