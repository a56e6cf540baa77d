#include "LogRecorder.h"

#include <QLoggingCategory>
#include <QMutexLocker>
#include <QTest>

#include <algorithm>
#include <vector>

namespace pondra::test {

namespace {

struct Registry
{
    QMutex mutex;
    std::vector<LogRecorder*> recorders;
    QtMessageHandler previous = nullptr;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

QString levelName(QtMsgType level)
{
    switch (level) {
    case QtDebugMsg:
        return QStringLiteral("debug");
    case QtInfoMsg:
        return QStringLiteral("info");
    case QtWarningMsg:
        return QStringLiteral("warning");
    case QtCriticalMsg:
        return QStringLiteral("error");
    case QtFatalMsg:
        return QStringLiteral("fatal");
    }
    return QStringLiteral("?");
}

} // namespace

LogRecorder::LogRecorder(QByteArray category) : m_category(std::move(category))
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    if (r.recorders.empty()) {
        QLoggingCategory::setFilterRules(QStringLiteral("org.pondra.Pondra.*.debug=true"));
        r.previous = qInstallMessageHandler(&LogRecorder::handle);
    }
    r.recorders.push_back(this);
}

LogRecorder::~LogRecorder()
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    std::erase(r.recorders, this);
    if (r.recorders.empty()) {
        qInstallMessageHandler(r.previous);
        r.previous = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }
}

bool LogRecorder::wants(const char* category) const
{
    return m_category.isEmpty() || (category && m_category == category);
}

void LogRecorder::handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    Registry& r = registry();
    QtMessageHandler previous = nullptr;
    {
        QMutexLocker lock(&r.mutex);
        for (LogRecorder* recorder : r.recorders) {
            if (!recorder->wants(context.category))
                continue;
            QMutexLocker own(&recorder->m_mutex);
            recorder->m_lines.append(
                {type, context.category ? QString::fromUtf8(context.category) : QString(), text});
        }
        previous = r.previous;
    }
    if (previous)
        previous(type, context, text);
}

QList<LogRecorder::Line> LogRecorder::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QStringList LogRecorder::texts() const
{
    QStringList out;
    for (const Line& line : lines())
        out << line.text;
    return out;
}

QStringList LogRecorder::texts(QtMsgType level) const
{
    QStringList out;
    for (const Line& line : lines()) {
        if (line.level == level)
            out << line.text;
    }
    return out;
}

QStringList LogRecorder::take()
{
    QList<Line> taken;
    {
        QMutexLocker lock(&m_mutex);
        taken.swap(m_lines);
    }
    QStringList out;
    for (const Line& line : taken)
        out << levelName(line.level) + QStringLiteral(": ") + line.text;
    return out;
}

void LogRecorder::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

QStringList LogRecorder::errors() const
{
    QStringList out;
    for (const Line& line : lines()) {
        if (line.level == QtCriticalMsg || line.level == QtFatalMsg)
            out << line.text;
    }
    return out;
}

bool LogRecorder::noLineContains(const QString& needle) const
{
    const QList<Line> all = lines();
    return std::none_of(all.begin(), all.end(), [&](const Line& line) {
        return line.text.contains(needle) || line.category.contains(needle);
    });
}

void LogRecorder::expectNoLineContains(const QStringList& secrets) const
{
    for (const QString& secret : secrets) {
        if (secret.isEmpty() || noLineContains(secret))
            continue;
        const QString message = QStringLiteral("A log line holds the secret \"%1\":\n%2").arg(secret, dump());
        QTest::qFail(qPrintable(message), __FILE__, __LINE__);
        return;
    }
}

QString LogRecorder::dump() const
{
    QStringList out;
    for (const Line& line : lines())
        out << levelName(line.level) + QLatin1Char(' ') + line.category + QStringLiteral(": ") + line.text;
    return out.join(QLatin1Char('\n'));
}

} // namespace pondra::test
