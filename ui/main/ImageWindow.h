#pragma once

#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "ui/kit/ChoiceBox.h"
#include "ui/main/MainWindowModels.h"
#include "ui/status/StatusEditView.h"

#include <QMainWindow>
#include <QPointer>

class QLabel;
class QMenu;
class QPushButton;

namespace pondra {

class AppState;
class MainPhotoView;
class RoundedLabel;

/**
 * The main window, titled "Pondra": the user's own side of the team presence
 * (status pill, name and team, photo with its marks, status, playing track)
 * and the buttons that switch between present and away, under a "Pondra"
 * menu with the shared settings and quit actions. One per process; closing
 * it only hides it. It also carries out the state's request to open the
 * settings. It reads and writes only through the state it is given.
 */
class ImageWindow final : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int contentWidth = 300;
    static constexpr int contentHeight = 400;
    /// How long the bad-photo notice stays before it is cleared.
    static constexpr milliseconds noticeDuration{2000};
    /// The notice's fade when it is cleared.
    static constexpr milliseconds noticeFade{350};

    explicit ImageWindow(AppState& app, QWidget* parent = nullptr);
    ~ImageWindow() override;

    /// Puts `action` ("Check for Updates…") first in the "Pondra" menu, with a
    /// separator after it; a later call replaces the earlier action.
    void setUpdateAction(QAction* action);
    /// The status editor once the status line opened it, else null.
    StatusEditView* statusEditor() const { return m_statusEditor; }

    /// What the window draws now.
    const MainWindowModel& model() const { return m_model; }
    QMenu* pondraMenu() const { return m_menu; }
    RoundedLabel* statusPill() const { return m_pill; }
    RoundedLabel* nameLabel() const { return m_name; }
    ChoiceBox* teamPicker() const { return m_teamPicker; }
    MainPhotoView* photoView() const { return m_photo; }
    RoundedLabel* statusLine() const { return m_statusLine; }
    RoundedLabel* nowPlayingRow() const { return m_nowPlaying; }
    /// The buttons under the photo, in order.
    QList<QPushButton*> presenceButtons() const { return m_buttons; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenu();
    void buildContent();
    /// Redraws what changed since the last refresh, or `everything`.
    void refresh(bool everything = false);
    void refillTeams();
    /// The texts' colours, from the window's palette as it is now.
    void applyTextColours();
    void rebuildButtons();
    void onPresenceAction(PresenceAction action);
    void onSettingsRequest(bool requested);
    void onEditStatus();
    /// The picker and the notice count as on screen only while the window is shown.
    void updateOnScreen();
    void onNoticeDue();
    void onFadeFrame();

    AppState& m_app;
    SubscriptionBag m_subscriptions;
    QPointer<StatusEditView> m_statusEditor;
    MainWindowModel m_model;

    QMenu* m_menu = nullptr;
    QAction* m_updateAction = nullptr;
    QAction* m_updateSeparator = nullptr;
    RoundedLabel* m_pill = nullptr;
    QWidget* m_header = nullptr;
    RoundedLabel* m_name = nullptr;
    QLabel* m_dot = nullptr;
    ChoiceBox* m_teamPicker = nullptr;
    MainPhotoView* m_photo = nullptr;
    RoundedLabel* m_statusLine = nullptr;
    QWidget* m_nowPlayingBox = nullptr;
    RoundedLabel* m_nowPlaying = nullptr;
    QWidget* m_buttonRow = nullptr;
    QList<QPushButton*> m_buttons;

    bool m_shown = false;
    bool m_pickerOnScreen = false;
    bool m_noticeOnScreen = false;
    /// The next clearing of `photoSkipped` is ours, so the notice fades.
    bool m_clearingNotice = false;
    TimerHandle m_fade;
    qint64 m_fadeStartMs = 0;
};

} // namespace pondra
