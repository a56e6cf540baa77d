#include "platform/session/SessionReportMerger.h"

namespace pondra {

bool SessionReportMerger::counts(Kind kind, LockReporter reporter, qint64 monotonicMs)
{
    const bool sameEvent =
        m_hasLast && kind == m_kind && monotonicMs - m_firstMs < windowMs && !m_reporters.contains(reporter);
    if (sameEvent) {
        m_reporters.insert(reporter);
        return false;
    }
    m_hasLast = true;
    m_kind = kind;
    m_firstMs = monotonicMs;
    m_reporters = {reporter};
    return true;
}

} // namespace pondra
