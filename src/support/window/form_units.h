// Form measurements in twips, converted with the screen's logical resolution.
#pragma once

class QWidget;

namespace ferrolyte {

// The logical dots per inch of the primary screen (96 when there is none).
double LogicalDpi();
// Pixels for twips.
int Tw(int twips);
// Twips for pixels.
int ToTwips(int pixels);
// Moves and sizes the widget; all four values in twips, relative to its parent.
void PlaceTwips(QWidget* widget, int left, int top, int width, int height);

}  // namespace ferrolyte
