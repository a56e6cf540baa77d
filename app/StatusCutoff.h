#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

#include <optional>

namespace pondra {

/// The instant at which the local clock of `zone` shows `time` on `date`: the
/// earlier one when the clock shows it twice, and the first valid moment after
/// it when the clock skips it. None when the zone cannot say.
std::optional<QDateTime> localMoment(QDate date, QTime time, const QTimeZone& zone);

/// The most recent 03:00 local time at or before `now` (a status set before it
/// is stale). The day before is counted in calendar days, not as 24 hours.
std::optional<QDateTime> statusCutoff(const QDateTime& now, const QTimeZone& zone);

} // namespace pondra
