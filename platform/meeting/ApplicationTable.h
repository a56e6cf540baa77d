#pragma once

#include "platform/meeting/MeetingSignals.h"

#include <QString>

#include <optional>

namespace pondra {

/// The display name when the application is a known meeting application.
std::optional<QString> meetingAppName(const RunningApplication& app);
/// Meeting applications that win over the others when several run.
bool isPrimaryMeetingApp(const RunningApplication& app);
/// A known web browser.
bool isBrowser(const RunningApplication& app);

} // namespace pondra
