#pragma once

#include "platform/compositing/CompositingQuery.h"

#include <QByteArray>

struct xcb_connection_t;

namespace pondra {

/// Asks the X server named by `DISPLAY` whether the compositing-manager
/// selection of the default screen has an owner. Its own connection is opened
/// on first use and again after the server went away; no server, no compositor.
class X11CompositingQuery final : public CompositingQuery
{
public:
    /// `display` empty: the `DISPLAY` of the environment at each connection.
    explicit X11CompositingQuery(QByteArray display = {});
    ~X11CompositingQuery() override;
    X11CompositingQuery(const X11CompositingQuery&) = delete;
    X11CompositingQuery& operator=(const X11CompositingQuery&) = delete;

    bool isCompositing() const override;

private:
    bool connect() const;
    void disconnect() const;

    QByteArray m_display;
    mutable xcb_connection_t* m_connection = nullptr;
    mutable int m_screen = 0;
};

} // namespace pondra
