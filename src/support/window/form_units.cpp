#include "support/window/form_units.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "support/window/twips.h"

namespace ferrolyte {

double LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->logicalDotsPerInchX() : 96.0;
}

int Tw(int twips) {
  return TwipsToPixels(twips, LogicalDpi());
}

int ToTwips(int pixels) {
  return PixelsToTwips(pixels, LogicalDpi());
}

void PlaceTwips(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Tw(left), Tw(top), Tw(width), Tw(height));
}

}  // namespace ferrolyte
