#include "app/StatusCutoff.h"

#include <algorithm>
#include <vector>

namespace pondra {

std::optional<QDateTime> localMoment(QDate date, QTime time, const QTimeZone& zone)
{
    if (!date.isValid() || !time.isValid() || !zone.isValid())
        return std::nullopt;
    // The wall-clock reading taken as if it were UTC; each offset in force
    // around that day gives one candidate instant.
    const QDateTime wall(date, time, Qt::UTC);
    std::vector<int> offsets;
    for (const QDateTime& probe : {wall.addDays(-1), wall, wall.addDays(1)}) {
        const int offset = zone.offsetFromUtc(probe);
        if (std::find(offsets.begin(), offsets.end(), offset) == offsets.end())
            offsets.push_back(offset);
    }
    std::optional<QDateTime> earliest;
    for (const int offset : offsets) {
        const QDateTime candidate = wall.addSecs(-offset);
        if (zone.offsetFromUtc(candidate) == offset && (!earliest || candidate < *earliest))
            earliest = candidate;
    }
    if (earliest)
        return earliest;

    // The clock jumps over this reading: the first valid moment after it is the
    // jump itself. It lies after the reading taken with the larger offset.
    const int larger = *std::max_element(offsets.begin(), offsets.end());
    const int smaller = *std::min_element(offsets.begin(), offsets.end());
    const QDateTime from = wall.addSecs(-larger);
    if (zone.hasTransitions()) {
        const QTimeZone::OffsetData jump = zone.nextTransition(from);
        if (jump.atUtc.isValid() && jump.atUtc <= wall.addSecs(-smaller))
            return jump.atUtc.toUTC();
    }
    return wall.addSecs(-smaller);
}

std::optional<QDateTime> statusCutoff(const QDateTime& now, const QTimeZone& zone)
{
    const QTime threeAm(3, 0, 0);
    const QDate today = now.toTimeZone(zone).date();
    const std::optional<QDateTime> todayAt3 = localMoment(today, threeAm, zone);
    if (!todayAt3)
        return std::nullopt;
    if (now >= *todayAt3)
        return todayAt3;
    return localMoment(today.addDays(-1), threeAm, zone).value_or(*todayAt3);
}

} // namespace pondra
