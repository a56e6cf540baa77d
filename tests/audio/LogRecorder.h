#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

namespace pondra::test {

/// Records the messages of one logging category while it lives (all levels enabled).
class LogRecorder final
{
public:
    explicit LogRecorder(const char* category) : m_category(category)
    {
        instance() = this;
        QLoggingCategory::setFilterRules(QStringLiteral("%1.debug=true").arg(QLatin1String(category)));
        m_previous = qInstallMessageHandler(&LogRecorder::handle);
    }
    ~LogRecorder()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
        instance() = nullptr;
    }
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    QStringList takeLines() { return std::exchange(m_lines, {}); }

private:
    static LogRecorder*& instance()
    {
        static LogRecorder* current = nullptr;
        return current;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        LogRecorder* self = instance();
        if (self && context.category && qstrcmp(context.category, self->m_category) == 0) {
            self->m_lines.append(text);
            return;
        }
        if (self && self->m_previous)
            self->m_previous(type, context, text);
    }

    const char* m_category;
    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};

} // namespace pondra::test
