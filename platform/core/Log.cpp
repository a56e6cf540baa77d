#include "Log.h"

#include <cmath>

Q_LOGGING_CATEGORY(lcApp, "org.pondra.Pondra.App")
Q_LOGGING_CATEGORY(lcNetwork, "org.pondra.Pondra.Network")
Q_LOGGING_CATEGORY(lcRing, "org.pondra.Pondra.Ring")
Q_LOGGING_CATEGORY(lcCamera, "org.pondra.Pondra.CameraCapture")
Q_LOGGING_CATEGORY(lcAudio, "org.pondra.Pondra.AudioMonitor")
Q_LOGGING_CATEGORY(lcNowPlaying, "org.pondra.Pondra.NowPlayingMonitor")
Q_LOGGING_CATEGORY(lcMeeting, "org.pondra.Pondra.MeetingMonitor")

namespace pondra {

namespace {
template <class... Ts>
struct overloaded : Ts...
{
    using Ts::operator()...;
};
// Clang before 17 does not deduce aggregate template arguments by itself.
template <class... Ts>
overloaded(Ts...) -> overloaded<Ts...>;

QString formatReal(double v, int precision)
{
    if (std::isnan(v))
        return QStringLiteral("nan");
    if (std::isinf(v))
        return v > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    return QString::number(v, 'f', precision);
}
} // namespace

QString LogArg::asText() const
{
    return std::visit(overloaded{[](bool v) { return v ? QStringLiteral("true") : QStringLiteral("false"); },
                                 [](qint64 v) { return QString::number(v); },
                                 [](double v) { return formatReal(v, 6); }, [](const QString& v) { return v; }},
                      m_value);
}

qint64 LogArg::asInteger() const
{
    return std::visit(overloaded{[](bool v) -> qint64 { return v ? 1 : 0; }, [](qint64 v) { return v; },
                                 [](double v) -> qint64 {
                                     if (!std::isfinite(v) || std::fabs(v) >= 9.2e18)
                                         return 0;
                                     return static_cast<qint64>(v);
                                 },
                                 [](const QString& v) { return v.toLongLong(); }},
                      m_value);
}

double LogArg::asReal() const
{
    return std::visit(overloaded{[](bool v) { return v ? 1.0 : 0.0; }, [](qint64 v) { return double(v); },
                                 [](double v) { return v; }, [](const QString& v) { return v.toDouble(); }},
                      m_value);
}

bool LogArg::asBool() const
{
    return std::visit(overloaded{[](bool v) { return v; }, [](qint64 v) { return v != 0; },
                                 [](double v) { return v != 0.0; }, [](const QString& v) { return !v.isEmpty(); }},
                      m_value);
}

QString renderLog(const char* format, std::initializer_list<LogArg> args)
{
    const QString fmt = QString::fromUtf8(format);
    QString out;
    out.reserve(fmt.size() + 32);
    auto next = args.begin();
    auto take = [&]() -> const LogArg* { return next == args.end() ? nullptr : &*next++; };

    for (qsizetype i = 0; i < fmt.size(); ++i) {
        const QChar c = fmt[i];
        if (c != u'%' || i + 1 >= fmt.size()) {
            out += c;
            continue;
        }
        qsizetype j = i + 1;
        if (fmt[j] == u'%') {
            out += u'%';
            i = j;
            continue;
        }
        bool asBool = false;
        if (fmt[j] == u'{') {
            const qsizetype close = fmt.indexOf(u'}', j);
            if (close < 0) {
                out += c;
                continue;
            }
            asBool = QStringView(fmt).mid(j + 1, close - j - 1).contains(u"bool");
            j = close + 1;
        }
        int precision = -1;
        if (j < fmt.size() && fmt[j] == u'.') {
            qsizetype k = j + 1;
            int p = 0;
            while (k < fmt.size() && fmt[k].isDigit())
                p = p * 10 + fmt[k++].digitValue();
            precision = p;
            j = k;
        }
        while (j < fmt.size() && (fmt[j] == u'l' || fmt[j] == u'h' || fmt[j] == u'z' || fmt[j] == u'q'))
            ++j;
        if (j >= fmt.size()) {
            out += QStringView(fmt).mid(i);
            break;
        }
        const QChar conv = fmt[j];
        const LogArg* arg = nullptr;
        switch (conv.unicode()) {
        case 'd':
        case 'i':
        case 'u':
            if ((arg = take()))
                out += asBool ? (arg->asBool() ? QStringLiteral("true") : QStringLiteral("false"))
                              : QString::number(arg->asInteger());
            break;
        case 'f':
        case 'g':
        case 'e':
            if ((arg = take()))
                out += formatReal(arg->asReal(), precision < 0 ? 6 : precision);
            break;
        case 's':
        case '@':
            if ((arg = take()))
                out += arg->asText();
            break;
        default:
            out += QStringView(fmt).mid(i, j - i + 1);
            break;
        }
        i = j;
    }
    return out;
}

QString secretPrefix(const QString& secret)
{
    return secret.size() > 8 ? secret.left(8) : QString();
}

QString maskTokenInUrl(const QString& url)
{
    static const QLatin1String marker("token=");
    const qsizetype at = url.indexOf(marker);
    if (at < 0)
        return url;
    const qsizetype start = at + marker.size();
    return url.left(start) + QString(url.size() - start, u'*');
}

} // namespace pondra
