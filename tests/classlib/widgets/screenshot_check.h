// The checks of the screenshot programs under a real X server: letting the window settle, grabbing an
// area of the screen, and telling a picture from a blank screen.
#pragma once

#include <QImage>
#include <QRect>

namespace kavrin::testing {

// Runs the event loop for the given time, so that windows are shown and painted.
void Settle(int milliseconds);

// A shot holds a picture when it has enough colours and no colour covers nearly all of it; what names
// the shot in the line printed.
bool HoldsAPicture(const QImage& image, const char* what);

// The screen's pixels inside area.
QImage ShotOf(const QRect& area);

}  // namespace kavrin::testing
