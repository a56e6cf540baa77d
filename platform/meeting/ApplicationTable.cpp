#include "platform/meeting/ApplicationTable.h"

#include <algorithm>
#include <iterator>

namespace pondra {

namespace {

struct MeetingApp
{
    const char* identifier; // executable base name or Flatpak id, matched exactly
    const char* displayName;
    bool isPrimary;
};

// The programs as their Linux builds and Flatpak ids name them.
constexpr MeetingApp meetingApps[] = {
    {"zoom", "Zoom", true},
    {"us.zoom.Zoom", "Zoom", true},
    {"teams", "Teams", true},
    {"teams-for-linux", "Teams", true},
    {"com.github.IsmaelMartinez.teams_for_linux", "Teams", true},
    {"CiscoCollabHost", "Webex", true},
    {"webex", "Webex", true},
    {"slack", "Slack", false},
    {"com.slack.Slack", "Slack", false},
    {"Discord", "Discord", false},
    {"discord", "Discord", false},
    {"com.discordapp.Discord", "Discord", false},
};

constexpr const char* browsers[] = {
    "chrome",  "google-chrome", "com.google.Chrome",   "chromium",    "chromium-browser", "org.chromium.Chromium",
    "firefox", "firefox-esr",   "org.mozilla.firefox", "brave",       "com.brave.Browser", "msedge",
    "com.microsoft.Edge", "vivaldi-bin", "com.vivaldi.Vivaldi",
};

// The Flatpak id names a sandboxed application better than its executable.
template <typename Match>
bool identifiedBy(const RunningApplication& app, Match match)
{
    return (!app.flatpakId.isEmpty() && match(app.flatpakId)) || (!app.executableName.isEmpty() && match(app.executableName));
}

const MeetingApp* findMeetingApp(const RunningApplication& app)
{
    const MeetingApp* found = nullptr;
    identifiedBy(app, [&](const QString& id) {
        const auto it = std::find_if(std::begin(meetingApps), std::end(meetingApps),
                                     [&](const MeetingApp& entry) { return id == QLatin1String(entry.identifier); });
        found = it != std::end(meetingApps) ? &*it : nullptr;
        return found != nullptr;
    });
    return found;
}

} // namespace

std::optional<QString> meetingAppName(const RunningApplication& app)
{
    if (const MeetingApp* entry = findMeetingApp(app))
        return QString::fromLatin1(entry->displayName);
    return std::nullopt;
}

bool isPrimaryMeetingApp(const RunningApplication& app)
{
    const MeetingApp* entry = findMeetingApp(app);
    return entry && entry->isPrimary;
}

bool isBrowser(const RunningApplication& app)
{
    return identifiedBy(app, [](const QString& id) {
        return std::any_of(std::begin(browsers), std::end(browsers),
                           [&](const char* browser) { return id == QLatin1String(browser); });
    });
}

} // namespace pondra
