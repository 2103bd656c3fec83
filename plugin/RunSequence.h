// What the plug-in does for the Prepare, Start, Continue and Finish selectors.
#pragma once

#include <cstdint>

#include "host/HostInterface.h"

// The host's main window from the platform data, 0 when the host gives none.
intptr_t HostWindow(const host::FilterRecord* record);

// Checks that the image can be handled (-30201 otherwise), announces 32-bit
// coordinates when the host offers them and asks for no buffer space.
void Prepare();
// The whole round trip: export, job description, launch, import, under the
// working folder's lock. A run that finds the lock held by another run
// touches nothing, tells the user and ends with -128. Under silent play
// nothing is done or shown, and the run fails with -30901 and its words.
// Returns the answer of the last recordResult.
bool Start();
// Serves Continue and Finish: leaves the host nothing more to deliver.
bool Continue();
// Empties the in, out and mask request rectangles in the form the host uses.
// -50 without a current context or FilterRecord.
int16_t ClearRequestRects();
