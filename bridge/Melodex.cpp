// libMelodex: prints the session's now-playing state as one JSON line.
//
// The library is loaded by a short-lived Perl helper, never by the program.
// It reads the MPRIS players on the session bus through libdbus-1, which it
// opens at run time so that it links nothing but the C and C++ runtimes.

#include "MelodexLine.h"

#include <dbus/dbus.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <type_traits>
#include <vector>

#ifndef MELODEX_DBUS_LIBRARY
#define MELODEX_DBUS_LIBRARY "libdbus-1.so.3"
#endif

namespace {

constexpr char kLoadFailedLine[] = "{\"error\":\"Failed to load MediaRemote.framework\"}";
constexpr char kFunctionsMissingLine[] = "{\"error\":\"Failed to get MediaRemote functions\"}";
constexpr char kPlayerPrefix[] = "org.mpris.MediaPlayer2.";
constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
constexpr long kWaitMs = 2000;

// The few libdbus entry points we use, resolved by name. The prototypes come
// from the library's own header; nothing here calls libdbus directly.
struct DBus
{
    decltype(&::dbus_error_init) errorInit = nullptr;
    decltype(&::dbus_error_free) errorFree = nullptr;
    decltype(&::dbus_connection_open_private) openPrivate = nullptr;
    decltype(&::dbus_connection_set_exit_on_disconnect) setExitOnDisconnect = nullptr;
    decltype(&::dbus_connection_close) close = nullptr;
    decltype(&::dbus_connection_unref) unref = nullptr;
    decltype(&::dbus_connection_send_with_reply_and_block) call = nullptr;
    decltype(&::dbus_bus_set_unique_name) setUniqueName = nullptr;
    decltype(&::dbus_message_new_method_call) newMethodCall = nullptr;
    decltype(&::dbus_message_append_args) appendArgs = nullptr;
    decltype(&::dbus_message_unref) messageUnref = nullptr;
    decltype(&::dbus_message_get_type) messageType = nullptr;
    decltype(&::dbus_connection_send_with_reply) sendWithReply = nullptr;
    decltype(&::dbus_connection_read_write_dispatch) readWriteDispatch = nullptr;
    decltype(&::dbus_connection_get_is_authenticated) isAuthenticated = nullptr;
    decltype(&::dbus_pending_call_get_completed) pendingCompleted = nullptr;
    decltype(&::dbus_pending_call_cancel) pendingCancel = nullptr;
    decltype(&::dbus_pending_call_steal_reply) pendingStealReply = nullptr;
    decltype(&::dbus_pending_call_unref) pendingUnref = nullptr;
    decltype(&::dbus_message_iter_init) iterInit = nullptr;
    decltype(&::dbus_message_iter_get_arg_type) iterArgType = nullptr;
    decltype(&::dbus_message_iter_get_element_type) iterElementType = nullptr;
    decltype(&::dbus_message_iter_recurse) iterRecurse = nullptr;
    decltype(&::dbus_message_iter_next) iterNext = nullptr;
    decltype(&::dbus_message_iter_get_basic) iterBasic = nullptr;

    bool resolve(void* handle)
    {
        bool ok = true;
        auto get = [&](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(handle, name));
            ok = ok && slot != nullptr;
        };
        get(errorInit, "dbus_error_init");
        get(errorFree, "dbus_error_free");
        get(openPrivate, "dbus_connection_open_private");
        get(setExitOnDisconnect, "dbus_connection_set_exit_on_disconnect");
        get(close, "dbus_connection_close");
        get(unref, "dbus_connection_unref");
        get(call, "dbus_connection_send_with_reply_and_block");
        get(setUniqueName, "dbus_bus_set_unique_name");
        get(newMethodCall, "dbus_message_new_method_call");
        get(appendArgs, "dbus_message_append_args");
        get(messageUnref, "dbus_message_unref");
        get(messageType, "dbus_message_get_type");
        get(sendWithReply, "dbus_connection_send_with_reply");
        get(readWriteDispatch, "dbus_connection_read_write_dispatch");
        get(isAuthenticated, "dbus_connection_get_is_authenticated");
        get(pendingCompleted, "dbus_pending_call_get_completed");
        get(pendingCancel, "dbus_pending_call_cancel");
        get(pendingStealReply, "dbus_pending_call_steal_reply");
        get(pendingUnref, "dbus_pending_call_unref");
        get(iterInit, "dbus_message_iter_init");
        get(iterArgType, "dbus_message_iter_get_arg_type");
        get(iterElementType, "dbus_message_iter_get_element_type");
        get(iterRecurse, "dbus_message_iter_recurse");
        get(iterNext, "dbus_message_iter_next");
        get(iterBasic, "dbus_message_iter_get_basic");
        return ok;
    }
};

long monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return long(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// One wait: however many calls it makes, they share one deadline.
class Deadline
{
public:
    Deadline() : m_end(monotonicMs() + kWaitMs) {}
    // Milliseconds left, or 0 once the wait is over.
    int remaining() const { return int(std::max(0L, m_end - monotonicMs())); }

private:
    long m_end;
};

class Session
{
public:
    explicit Session(const DBus& dbus) : m_dbus(dbus) {}
    ~Session()
    {
        if (m_connection) {
            m_dbus.close(m_connection);
            m_dbus.unref(m_connection);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Connects to the session bus without ever starting one, and registers
    // within the wait's deadline (dbus_bus_register would block for 25 s).
    bool open(const Deadline& deadline)
    {
        std::string address;
        if (const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS"); env && *env)
            address = env;
        else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
            address = std::string("unix:path=") + runtime + "/bus";
        else
            return false;

        DBusError error;
        m_dbus.errorInit(&error);
        m_connection = m_dbus.openPrivate(address.c_str(), &error);
        m_dbus.errorFree(&error);
        if (!m_connection)
            return false;
        m_dbus.setExitOnDisconnect(m_connection, FALSE);

        // Authenticate before anything is queued: sending flushes, and a
        // flush waits for the handshake without any time-out.
        while (!m_dbus.isAuthenticated(m_connection)) {
            const int left = deadline.remaining();
            if (left <= 0 || !m_dbus.readWriteDispatch(m_connection, left))
                return false;
        }
        DBusMessage* reply = busCall("Hello", deadline);
        if (!reply)
            return false;
        bool ok = false;
        DBusMessageIter it;
        if (m_dbus.iterInit(reply, &it) && m_dbus.iterArgType(&it) == DBUS_TYPE_STRING) {
            const char* name = nullptr;
            m_dbus.iterBasic(&it, &name);
            ok = m_dbus.setUniqueName(m_connection, name);
        }
        m_dbus.messageUnref(reply);
        return ok;
    }

    // The MPRIS player names on the bus, in byte order.
    std::vector<std::string> playerNames(const Deadline& deadline)
    {
        std::vector<std::string> names;
        DBusMessage* reply = busCall("ListNames", deadline);
        if (!reply)
            return names;
        DBusMessageIter it;
        if (m_dbus.iterInit(reply, &it) && m_dbus.iterArgType(&it) == DBUS_TYPE_ARRAY
            && m_dbus.iterElementType(&it) == DBUS_TYPE_STRING) {
            DBusMessageIter item;
            m_dbus.iterRecurse(&it, &item);
            for (; m_dbus.iterArgType(&item) == DBUS_TYPE_STRING; m_dbus.iterNext(&item)) {
                const char* name = nullptr;
                m_dbus.iterBasic(&item, &name);
                if (std::strncmp(name, kPlayerPrefix, sizeof kPlayerPrefix - 1) == 0)
                    names.emplace_back(name);
            }
        }
        m_dbus.messageUnref(reply);
        std::sort(names.begin(), names.end());
        return names;
    }

    // Asks one player for one property of its player interface, with the
    // time left of the wait. Null when the wait is over or the call failed.
    DBusPendingCall* askPlayerProperty(const std::string& player, const char* property, const Deadline& deadline)
    {
        const int timeout = deadline.remaining();
        if (timeout <= 0)
            return nullptr;
        DBusMessage* message = m_dbus.newMethodCall(player.c_str(), "/org/mpris/MediaPlayer2",
                                                    "org.freedesktop.DBus.Properties", "Get");
        if (!message)
            return nullptr;
        const char* interface = kPlayerInterface;
        DBusPendingCall* pending = nullptr;
        if (!m_dbus.appendArgs(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID)
            || !m_dbus.sendWithReply(m_connection, message, &pending, timeout))
            pending = nullptr;
        m_dbus.messageUnref(message);
        return pending;
    }

    // Waits, at most until the wait's end, for an answer asked for above and
    // calls `read` with an iterator on the property's value. (Blocking on the
    // pending call would wait its whole time-out again from now.)
    template <typename Read>
    void awaitProperty(DBusPendingCall* pending, const Deadline& deadline, Read read)
    {
        if (!pending)
            return;
        while (!m_dbus.pendingCompleted(pending)) {
            const int left = deadline.remaining();
            if (left <= 0 || !m_dbus.readWriteDispatch(m_connection, left))
                break;
        }
        DBusMessage* reply = nullptr;
        if (m_dbus.pendingCompleted(pending))
            reply = m_dbus.pendingStealReply(pending);
        else
            m_dbus.pendingCancel(pending);
        m_dbus.pendingUnref(pending);
        if (!reply)
            return;
        DBusMessageIter it;
        if (m_dbus.messageType(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN && m_dbus.iterInit(reply, &it)
            && m_dbus.iterArgType(&it) == DBUS_TYPE_VARIANT) {
            DBusMessageIter value;
            m_dbus.iterRecurse(&it, &value);
            read(value);
        }
        m_dbus.messageUnref(reply);
    }

    // A string value, or nothing for any other type.
    bool readString(DBusMessageIter& it, std::string& out) const
    {
        if (m_dbus.iterArgType(&it) != DBUS_TYPE_STRING)
            return false;
        const char* text = nullptr;
        m_dbus.iterBasic(&it, &text);
        out = text;
        return true;
    }

    // Artists come as a list of strings; some players send one string.
    bool readArtists(DBusMessageIter& it, std::string& out) const
    {
        if (readString(it, out))
            return true;
        if (m_dbus.iterArgType(&it) != DBUS_TYPE_ARRAY || m_dbus.iterElementType(&it) != DBUS_TYPE_STRING)
            return false;
        DBusMessageIter item;
        m_dbus.iterRecurse(&it, &item);
        std::string joined;
        for (bool first = true; m_dbus.iterArgType(&item) == DBUS_TYPE_STRING; m_dbus.iterNext(&item), first = false) {
            const char* text = nullptr;
            m_dbus.iterBasic(&item, &text);
            if (!first)
                joined += ", ";
            joined += text;
        }
        out = joined;
        return true;
    }

    void readMetadata(DBusMessageIter& it, melodex::NowPlaying& state) const
    {
        if (m_dbus.iterArgType(&it) != DBUS_TYPE_ARRAY || m_dbus.iterElementType(&it) != DBUS_TYPE_DICT_ENTRY)
            return;
        DBusMessageIter entry;
        m_dbus.iterRecurse(&it, &entry);
        for (; m_dbus.iterArgType(&entry) == DBUS_TYPE_DICT_ENTRY; m_dbus.iterNext(&entry)) {
            DBusMessageIter field;
            m_dbus.iterRecurse(&entry, &field);
            if (m_dbus.iterArgType(&field) != DBUS_TYPE_STRING)
                continue;
            const char* key = nullptr;
            m_dbus.iterBasic(&field, &key);
            if (!m_dbus.iterNext(&field) || m_dbus.iterArgType(&field) != DBUS_TYPE_VARIANT)
                continue;
            DBusMessageIter value;
            m_dbus.iterRecurse(&field, &value);
            if (std::strcmp(key, "xesam:title") == 0)
                readString(value, state.title);
            else if (std::strcmp(key, "xesam:album") == 0)
                readString(value, state.album);
            else if (std::strcmp(key, "xesam:artist") == 0)
                readArtists(value, state.artist);
        }
    }

private:
    DBusMessage* busCall(const char* method, const Deadline& deadline)
    {
        const int timeout = deadline.remaining();
        if (timeout <= 0)
            return nullptr;
        DBusMessage* message = m_dbus.newMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                    "org.freedesktop.DBus", method);
        return message ? send(message, timeout) : nullptr;
    }

    // Sends and waits for the reply; the call's own message is released.
    DBusMessage* send(DBusMessage* message, int timeoutMs)
    {
        DBusError error;
        m_dbus.errorInit(&error);
        DBusMessage* reply = m_dbus.call(m_connection, message, timeoutMs, &error);
        m_dbus.errorFree(&error);
        m_dbus.messageUnref(message);
        return reply;
    }

    const DBus& m_dbus;
    DBusConnection* m_connection = nullptr;
};

melodex::NowPlaying readNowPlaying(const DBus& dbus)
{
    melodex::NowPlaying state;
    Session session(dbus);

    // Wait one: find the players and how each is doing.
    const Deadline first;
    if (!session.open(first))
        return state;
    const std::vector<std::string> players = session.playerNames(first);
    if (players.empty())
        return state;
    // All players are asked at once, so one that hangs costs the others
    // nothing; every answer still has to come within this wait.
    std::vector<DBusPendingCall*> asked;
    for (const std::string& player : players)
        asked.push_back(session.askPlayerProperty(player, "PlaybackStatus", first));
    std::vector<std::string> statuses(players.size());
    for (std::size_t i = 0; i < players.size(); ++i)
        session.awaitProperty(asked[i], first, [&](DBusMessageIter& it) { session.readString(it, statuses[i]); });

    auto firstWith = [&](const char* status) {
        return std::size_t(std::find(statuses.begin(), statuses.end(), status) - statuses.begin());
    };
    std::size_t chosen = firstWith("Playing");
    if (chosen == players.size())
        chosen = firstWith("Paused");
    if (chosen == players.size())
        chosen = 0;
    state.playing = statuses[chosen] == "Playing";

    // Wait two: that player's track.
    const Deadline second;
    session.awaitProperty(session.askPlayerProperty(players[chosen], "Metadata", second), second,
                          [&](DBusMessageIter& it) { session.readMetadata(it, state); });
    return state;
}

void printLine(const char* line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

extern "C" __attribute__((visibility("default"))) void get_now_playing(void)
{
    // libdbus stays loaded: it keeps process-wide state (its locks) that must
    // not be unmapped under it, and the helper process ends right after this.
    void* handle = dlopen(MELODEX_DBUS_LIBRARY, RTLD_LAZY | RTLD_LOCAL);
    if (!handle) {
        printLine(kLoadFailedLine);
        return;
    }
    DBus dbus;
    if (!dbus.resolve(handle)) {
        printLine(kFunctionsMissingLine);
        return;
    }
    printLine(melodex::answerLine(readNowPlaying(dbus)).c_str());
}
