#include "program/IncomingRingObserver.h"

namespace pondra {

IncomingRingObserver::IncomingRingObserver(const ReadOnly<std::optional<IncomingRing>>& incomingRing,
                                           Scheduler& scheduler, RingGlow* glow, RingBubble* bubble,
                                           QObject* parent)
    : QObject(parent), m_glow(glow), m_bubble(bubble)
{
    m_subscription = incomingRing.subscribe(
        this,
        onNextTurn<std::optional<IncomingRing>>(
            scheduler, this, [this](const std::optional<IncomingRing>& ring) { onIncomingRing(ring); }));
}

void IncomingRingObserver::onIncomingRing(const std::optional<IncomingRing>& ring)
{
    if (!ring) {
        if (m_glow)
            m_glow->hideGlow();
        if (m_bubble)
            m_bubble->hide();
        return;
    }
    if (m_glow)
        m_glow->showGlow();
    if (m_bubble)
        m_bubble->show(ring->from, ring->photo);
    if (m_glow)
        m_glow->raiseGlow();
}

} // namespace pondra
