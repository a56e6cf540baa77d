#include "platform/compositing/CoveredWindows.h"

#include "platform/x11/Xcb.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>

namespace pondra {

class CoveredWindows::Filter final : public QAbstractNativeEventFilter
{
public:
    explicit Filter(CoveredWindows& owner) : m_owner(owner) {}
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_VISIBILITY_NOTIFY) {
            const auto* visibility = reinterpret_cast<const xcb_visibility_notify_event_t*>(event);
            m_owner.onVisibility(visibility->window, visibility->state == XCB_VISIBILITY_FULLY_OBSCURED);
        }
        return false;
    }

private:
    CoveredWindows& m_owner;
};

CoveredWindows& CoveredWindows::instance()
{
    static CoveredWindows* windows = new CoveredWindows; // lives as long as the application's event loop
    return *windows;
}

CoveredWindows::CoveredWindows() = default;

CoveredWindows::~CoveredWindows()
{
    if (m_filter && qApp)
        qApp->removeNativeEventFilter(m_filter.get());
}

void CoveredWindows::watch(QWindow* window)
{
    xcb_connection_t* connection = xcb::applicationConnection();
    if (!window || !connection)
        return;
    const auto id = quint32(window->winId());
    if (!m_filter) {
        m_filter = std::make_unique<Filter>(*this);
        qGuiApp->installNativeEventFilter(m_filter.get());
    }
    if (!m_watched.contains(id)) {
        // A window that got a new native window leaves its old record.
        for (auto old = m_watched.begin(); old != m_watched.end();)
            old = old->window == window ? m_watched.erase(old) : std::next(old);
        m_watched.insert(id, Watched{window, false});
        connect(window, &QObject::destroyed, this, [this, id] { m_watched.remove(id); });
    }
    // Asked for again each time, because Qt writes its default event mask
    // anew when the window's flags change. Qt's own mask stays as it is, with
    // the visibility reports added.
    const xcb::Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, id), nullptr));
    if (attributes && !(attributes->your_event_mask & XCB_EVENT_MASK_VISIBILITY_CHANGE)) {
        const quint32 mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
        xcb_change_window_attributes(connection, id, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
    }
    // The X server reports only changes, and one may have gone unreported
    // while the mask was rewritten: the window, just shown or raised, counts
    // as seen until it says otherwise.
    onVisibility(id, false);
}

bool CoveredWindows::isCovered(const QWindow* window) const
{
    if (!window || !window->handle())
        return false;
    const auto it = m_watched.constFind(quint32(window->winId()));
    return it != m_watched.cend() && it->covered;
}

void CoveredWindows::onVisibility(quint32 nativeWindow, bool covered)
{
    auto it = m_watched.find(nativeWindow);
    if (it == m_watched.end() || it->covered == covered)
        return;
    it->covered = covered;
    if (QWindow* window = it->window)
        Q_EMIT coveredChanged(window, covered);
}

} // namespace pondra
