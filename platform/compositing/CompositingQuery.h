#pragma once

#include <memory>

namespace pondra {

/**
 * Whether a compositing manager runs on the display the program draws to.
 * Translucent windows need one: without it their transparent parts show
 * black, so they are drawn opaque inside a shape mask instead, and the
 * screen-edge glow is not shown at all.
 */
class CompositingQuery
{
public:
    virtual ~CompositingQuery() = default;
    /// Asked afresh at each call: a compositor can start or stop at any time.
    virtual bool isCompositing() const = 0;
};

/// The query for the platform in use: on X11 the owner of the
/// `_NET_WM_CM_S<screen>` selection; Wayland always composites.
std::shared_ptr<CompositingQuery> makeDefaultCompositingQuery();

} // namespace pondra
