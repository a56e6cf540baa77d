#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace pondra {

class IdleMonitor;

/// What the idle panel shows, from the idle monitor's values.
struct ContentViewModel
{
    bool isIdle = false;
    /// "Idle" or "Active".
    QString statusText;
    /// "m:ss", or "h:mm:ss" from one hour on.
    QString idleTime;
    /// The threshold in whole seconds (cut towards zero) followed by "s".
    QString threshold;

    static ContentViewModel from(const IdleMonitor& monitor);
    /// Orange while idle, green otherwise.
    QColor dotColour() const;

    bool operator==(const ContentViewModel&) const = default;
};

/**
 * A small panel with the user's idle time: an orange or green dot with
 * "Idle" or "Active", the time since the last input, the threshold, and a
 * "Quit" button. 180 pixels wide; it follows the monitor's values. Ctrl+Q
 * in the panel presses "Quit": the panel takes the keys itself rather than
 * adding a second Ctrl+Q beside the program's own quit shortcut, which would
 * make both of them ambiguous. Nothing in the program shows it.
 */
class ContentView final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int panelWidth = 180;

    /// `onQuit` runs on "Quit"; without it "Quit" quits the program, as the
    /// program's own quit command does.
    explicit ContentView(IdleMonitor& idleMonitor, std::function<void()> onQuit = {},
                         QWidget* parent = nullptr);

    const ContentViewModel& model() const { return m_model; }
    QPushButton* quitButton() const { return m_quit; }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class Dot;
    void onMonitorChanged();
    void onQuit();

    IdleMonitor& m_idleMonitor;
    std::function<void()> m_onQuit;
    ContentViewModel m_model;
    Dot* m_dot = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_idleTime = nullptr;
    QLabel* m_threshold = nullptr;
    QPushButton* m_quit = nullptr;
};

} // namespace pondra
