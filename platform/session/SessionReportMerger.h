#pragma once

#include <QtGlobal>

#include <set>

namespace pondra {

/// The services that report screen locks and unlocks.
enum class LockReporter
{
    LockedHint,
    SessionSignal,
    FreedesktopScreenSaver,
    GnomeScreenSaver
};

/// Merges the reports of several services: one lock or unlock usually shows
/// up on more than one of them (GNOME sets logind's hint and sends the
/// screensaver signal), so a report of the same kind from another service
/// within a second of the first counts once. A second report from the same
/// service is a new event.
class SessionReportMerger final
{
public:
    enum class Kind
    {
        Lock,
        Unlock
    };

    static constexpr qint64 windowMs = 1000;

    /// True when the report is a new event.
    bool counts(Kind kind, LockReporter reporter, qint64 monotonicMs);

private:
    bool m_hasLast = false;
    Kind m_kind = Kind::Lock;
    qint64 m_firstMs = 0;
    std::set<LockReporter> m_reporters;
};

} // namespace pondra
