#pragma once
// Desktop composition probe for the glass band above the panels. No compositor
// on this platform offers frame extension into the client area, so the probe
// answers "not capable": the band stays an ordinary part of the window and the
// default colours apply.

namespace composition {

// False: no frame extension is available.
bool isGlassCapableOs();

// Stores whether composition is on through enabled (when not null); returns 0
// when the answer came from the desktop, -1 when it is not capable.
int queryComposition(bool* enabled);

}  // namespace composition
