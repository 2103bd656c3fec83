// The about box shown for the host's About selector.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostInterface.h"

// Shows dialog 16000 modally over the host window named by the record's
// platform data and returns 0 once it has closed (also when it could not be
// shown). -50 without platform data; a null record throws EError.
int16_t ShowAbout(const host::AboutRecord* record);

// The text of the box: the version line and the description.
std::string AboutText();

// Where CenterDialog puts a dialog of the given size over a parent client
// area (left, top, width, height in screen coordinates); titleBits is the
// caption-button width already reduced for a dialog without system menu.
struct DialogPlacement {
  int x;
  int y;
};
DialogPlacement PlaceDialog(int parentLeft, int parentTop, int parentWidth, int parentHeight,
                            int width, int height, int titleBits, int screenWidth,
                            int screenHeight);
