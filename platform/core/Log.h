#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QUrl>

#include <initializer_list>
#include <type_traits>
#include <variant>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcNetwork)
Q_DECLARE_LOGGING_CATEGORY(lcRing)
Q_DECLARE_LOGGING_CATEGORY(lcCamera)
Q_DECLARE_LOGGING_CATEGORY(lcAudio)
Q_DECLARE_LOGGING_CATEGORY(lcNowPlaying)
Q_DECLARE_LOGGING_CATEGORY(lcMeeting)

namespace pondra {

/// A logging category as Q_DECLARE_LOGGING_CATEGORY declares it.
using LogCategory = const QLoggingCategory& (*)();

/// The bundle identifier; every logging category is named after it and its area.
inline constexpr char bundleIdentifier[] = "org.pondra.Pondra";

/// One argument of a log format, kept as the log would render it.
class LogArg final
{
public:
    LogArg(bool v) : m_value(v) {}
    template <typename I, std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool>, int> = 0>
    LogArg(I v) : m_value(static_cast<qint64>(v))
    {
    }
    LogArg(double v) : m_value(v) {}
    LogArg(float v) : m_value(double(v)) {}
    LogArg(const QString& v) : m_value(v) {}
    LogArg(const char* v) : m_value(QString::fromUtf8(v)) {}
    LogArg(const QByteArray& v) : m_value(QString::fromUtf8(v)) {}
    LogArg(QLatin1String v) : m_value(QString(v)) {}
    LogArg(QStringView v) : m_value(v.toString()) {}
    LogArg(const QUrl& v) : m_value(v.toString()) {}

    QString asText() const;
    qint64 asInteger() const;
    double asReal() const;
    bool asBool() const;

private:
    std::variant<bool, qint64, double, QString> m_value;
};

/**
 * Renders a unified-log style format: "%{bool}d" as true/false, "%d"/"%ld" as
 * an integer, "%f" with six decimals ("%.3f" with three), "%s", "%@" and their
 * "%{public}" forms as text, "%%" as "%".
 */
QString renderLog(const char* format, std::initializer_list<LogArg> args);

template <typename... A>
void logInfo(LogCategory categoryFn, const char* format, const A&... args)
{
    const QLoggingCategory& category = categoryFn();
    if (category.isInfoEnabled())
        QMessageLogger(nullptr, 0, nullptr, category.categoryName()).info().noquote() << renderLog(format, {LogArg(args)...});
}

template <typename... A>
void logDebug(LogCategory categoryFn, const char* format, const A&... args)
{
    const QLoggingCategory& category = categoryFn();
    if (category.isDebugEnabled())
        QMessageLogger(nullptr, 0, nullptr, category.categoryName()).debug().noquote() << renderLog(format, {LogArg(args)...});
}

/// The log's "error" level: Qt's critical messages.
template <typename... A>
void logError(LogCategory categoryFn, const char* format, const A&... args)
{
    const QLoggingCategory& category = categoryFn();
    if (category.isCriticalEnabled())
        QMessageLogger(nullptr, 0, nullptr, category.categoryName()).critical().noquote() << renderLog(format, {LogArg(args)...});
}

/// The part of a secret that may be logged: its first 8 characters, or
/// nothing at all when it is 8 characters or shorter.
QString secretPrefix(const QString& secret);

/// An address with everything after "token=" masked.
QString maskTokenInUrl(const QString& url);

} // namespace pondra
