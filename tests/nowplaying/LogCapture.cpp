#include "LogCapture.h"

#include <QStringList>

namespace pondra::test {

namespace {
LogCapture* active = nullptr;
} // namespace

LogCapture::LogCapture(const char* category) : m_category(category)
{
    active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    active = nullptr;
}

QStringList LogCapture::texts(QtMsgType type) const
{
    QStringList out;
    for (const Line& line : m_lines)
        if (line.type == type)
            out << line.text;
    return out;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (active && context.category && active->m_category == context.category) {
        active->m_lines.append({type, message});
        return;
    }
    if (active && active->m_previous)
        active->m_previous(type, context, message);
}

} // namespace pondra::test
