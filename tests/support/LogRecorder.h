#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace pondra::test {

/**
 * Records every log line written while it lives: level, category and text.
 * `QTest::ignoreMessage` only proves that a line appeared; a recorder also
 * proves what did not appear ("nothing at error level", "no line contains
 * the token"). Lines still reach the previous handler, so `ignoreMessage`
 * and the test's own output work as before. Debug lines of the program's
 * categories are switched on while a recorder lives. Recorders may nest;
 * lines may come from any thread.
 */
class LogRecorder final
{
public:
    struct Line
    {
        QtMsgType level = QtDebugMsg;
        QString category;
        QString text;
    };

    /// `category` empty: every category. Otherwise that category alone.
    explicit LogRecorder(QByteArray category = {});
    ~LogRecorder();
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    QList<Line> lines() const;
    /// The texts of every line, or of one level, in order.
    QStringList texts() const;
    QStringList texts(QtMsgType level) const;
    /// Each line recorded so far as "level: text" (level one of debug, info,
    /// warning, error), which are then forgotten.
    QStringList take();
    void clear();

    /// The lines at the log's error level (Qt's critical and fatal).
    QStringList errors() const;
    /// True when no line (of any level or category) contains `needle`.
    bool noLineContains(const QString& needle) const;
    /// Fails the running test when a line contains one of `secrets` (a test's
    /// cleanup() calls it, so every test function of the class is checked).
    void expectNoLineContains(const QStringList& secrets) const;
    /// Every line as "level category: text", for failure messages.
    QString dump() const;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text);
    bool wants(const char* category) const;

    QByteArray m_category;
    mutable QMutex m_mutex;
    QList<Line> m_lines;
};

} // namespace pondra::test
