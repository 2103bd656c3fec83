// What the host lets the plug-in show, and how it shows the plug-in's words:
// read from the filter record, the same in every call.
#pragma once

#include "host/HostInterface.h"

// True when the host plays the filter silently (a script or an action that
// allows no dialog): the plug-in must then show no window of any kind. False
// for every other play mode and for hosts without descriptor parameters,
// which play from the menu.
bool IsSilentPlay(const host::FilterRecord* record);

// True for the hosts known to show the text of errorString for -30904:
// Photoshop and Photoshop Elements ('8BIM') and the .NET host library
// ('NDP.'). Other hosts show nothing for a failure code, or a generic
// sentence, also when they offer errorString.
bool ShowsErrorString(const host::FilterRecord* record);
