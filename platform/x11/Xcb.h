#pragma once

#include <QByteArrayView>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace pondra::xcb {

/// A reply of libxcb, freed as libxcb wants it.
struct FreeReply
{
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

/// Waits for the reply to `cookie`; an error (a window of another client can
/// go at any moment) is taken here rather than left to the application's
/// error log, and gives no reply.
template <typename T, typename Cookie, typename Fetch>
Reply<T> ask(xcb_connection_t* connection, Cookie cookie, Fetch fetch)
{
    xcb_generic_error_t* error = nullptr;
    Reply<T> reply(fetch(connection, cookie, &error));
    std::free(error);
    return reply;
}

/// The atom of `name` (made where it does not exist yet, unless
/// `onlyIfExists`); XCB_ATOM_NONE where there is none or the server fails.
xcb_atom_t internAtom(xcb_connection_t* connection, QByteArrayView name, bool onlyIfExists = false);

/// The application's own X connection, or null when it does not run on X11.
xcb_connection_t* applicationConnection();

} // namespace pondra::xcb
