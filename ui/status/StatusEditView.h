#pragma once

#include "ui/status/DetailCheckBox.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace pondra {

class AppState;
class FilledButton;

/// The window in which the user sets the free status and whether the playing
/// track is appended to it, 330 pixels wide. It edits copies, filled from the
/// state each time it is shown; only Save and Clear write (both settings,
/// always). No keys act on it: Enter and Esc do nothing, and closing it
/// discards the edits.
class StatusEditView final : public QDialog
{
    Q_OBJECT
public:
    static constexpr int windowWidth = 330;

    explicit StatusEditView(AppState& app, QWidget* parent = nullptr);

    /// What Save stores: line feeds as spaces, then the space separators and
    /// tabs trimmed at both ends (other line breaks are kept).
    static QString cleanedStatus(const QString& input);

    QLineEdit* statusField() const { return m_field; }
    /// "Include Currently Playing", with the now-playing line as its second line.
    DetailCheckBox* nowPlayingBox() const { return m_includeNowPlaying; }
    QPushButton* saveButton() const;
    QPushButton* clearButton() const { return m_clear; }
    /// "🎵 <track>" or "No music playing".
    QString nowPlayingLine() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void onSave();
    void onClear();
    void refreshNowPlaying();
    /// The quiet labels' colour, from the window's palette as it is now.
    void applyQuietColours();

    AppState& m_app;
    QList<QLabel*> m_quietLabels;
    QLineEdit* m_field = nullptr;
    DetailCheckBox* m_includeNowPlaying = nullptr;
    QPushButton* m_clear = nullptr;
    FilledButton* m_save = nullptr;
};

} // namespace pondra
