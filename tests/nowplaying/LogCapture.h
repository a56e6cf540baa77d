#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace pondra::test {

/// Records the messages of one logging category while it lives, so a test
/// can say which lines were written and that no others were.
class LogCapture final
{
public:
    explicit LogCapture(const char* category);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    struct Line
    {
        QtMsgType type;
        QString text;
    };
    QList<Line> lines() const { return m_lines; }
    QStringList texts(QtMsgType type) const;
    void clear() { m_lines.clear(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    QByteArray m_category;
    QList<Line> m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace pondra::test
