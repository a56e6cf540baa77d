#pragma once

#include "platform/compositing/CompositingQuery.h"
#include "platform/core/Published.h"
#include "platform/pointer/PointerAndScreens.h"
#include "records/RemoteUser.h"
#include "ui/kit/WindowSurface.h"
#include "ui/team/TeamModels.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;

namespace pondra {

class AppState;
class ElidedLabel;
class FrameTicker;
class MiniUserRow;
class RingRequestView;
class StatusEditView;

/**
 * The team window: a small frameless tool window, never focused and kept out
 * of taskbars and pagers, that shows the team name and one row per member, or
 * the incoming-ring card while a teammate rings. Its height follows its
 * content from the top-left corner, capped at the room from its top to the
 * bottom of its screen's usable area, redone wherever it is moved (rows past
 * the cap are cut at the panel's inner edge); its place, level and saved
 * frame belong to whoever makes it.
 */
class MiniWindow final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int windowWidth = 196;
    static constexpr int margin = 8;
    static constexpr int panelWidth = 180;
    static constexpr int padding = 8;
    static constexpr int spacing = 4;

    explicit MiniWindow(AppState& app,
                        std::shared_ptr<CompositingQuery> compositing = makeDefaultCompositingQuery(),
                        std::shared_ptr<PointerAndScreens> screens = makeDefaultPointerAndScreens(),
                        QWidget* parent = nullptr);
    ~MiniWindow() override;

    /// Shows these records (what the team subscription calls on each "users" message).
    void showTeam(const QList<RemoteUser>& users);
    /// The rows in list order (tests, benchmarks).
    QList<MiniUserRow*> rows() const;
    TeamHeaderModel headerModel() const { return m_header; }
    bool showsRingCard() const;
    RingRequestView* ringCard() const { return m_card; }
    /// The status editor once opened, else null.
    StatusEditView* statusEditor() const;
    FrameTicker& frameTicker() const { return *m_ticker; }
    /// The height the content asks for, before the cap.
    int contentHeight() const;
    /// The height at the window's place: the content's, capped at the room
    /// below its top, but never less than the header (or the whole ring card).
    int cappedHeight() const;

    void setVisible(bool visible) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshRows();
    void refreshHeader();
    void refreshRing();
    void applyColours();
    void relayout();
    MiniUserRow* makeRow();
    void onRing(MiniUserRow* row);
    void onTogglePresence();
    void onEditStatus();
    void onRowDoubleClicked(MiniUserRow* row);

    AppState& m_app;
    std::shared_ptr<PointerAndScreens> m_screens;
    std::unique_ptr<FrameTicker> m_ticker;
    WindowSurface m_surface;
    SubscriptionBag m_subscriptions;

    TeamHeaderModel m_header;
    ElidedLabel* m_teamName = nullptr;
    QLabel* m_reconnecting = nullptr;
    QList<RemoteUser> m_users;
    std::vector<std::pair<RowKey, MiniUserRow*>> m_rows;
    RingRequestView* m_card = nullptr;
    QPointer<StatusEditView> m_statusEditor;

    QPoint m_pressGlobal;
    QPoint m_pressWindowPos;
    bool m_pressed = false;
    bool m_manualMove = false;
};

} // namespace pondra
