// Top-level windows sized for the screen they open on.
#pragma once

class QWidget;

// Shrinks `window` so that it fits the available area of its screen (a
// large scale factor makes a few hundred pixels a whole screen), and moves
// it back onto that area when it lies partly outside. A window that fits
// keeps its size and place.
void FitOnScreen(QWidget& window);
