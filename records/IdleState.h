#pragma once

#include <QString>

#include <cstddef>

namespace pondra {

/// A team member's activity level: the coloured dot of a team row, the main
/// window's status, and the idle-state text of the presence update. The one
/// place that holds the idle bands; its colours belong to the views' palette.
class IdleState final
{
public:
    enum Case
    {
        active,
        semiIdle,
        idle
    };

    constexpr IdleState(Case value = idle) : m_case(value) {}

    /// "active" and "semiIdle" exactly; every other text is idle.
    static IdleState fromString(const QString& text);
    /// Under 600 s active, under 1800 s semi-idle, else (not a number included) idle.
    static IdleState fromSeconds(double seconds);

    constexpr Case value() const { return m_case; }
    /// "active", "semiIdle" or "idle".
    QString wireText() const;

    friend constexpr bool operator==(IdleState, IdleState) = default;

private:
    Case m_case = idle;
};

inline std::size_t qHash(IdleState state, std::size_t seed = 0) noexcept
{
    return std::size_t(state.value()) ^ seed;
}

} // namespace pondra
