// The job description "Data.lif" that tells the stand-alone application what
// to do with the exported image.
#pragma once

#include <cstdint>

struct PluginContext;

// Writes "Data.lif" into the working folder (created if missing, not
// emptied) and stores its path in the context's jobPath once the file is
// open. 0 on success; -50 when the folder or either image name cannot be
// made, the file's path does not fit the 260-byte buffer (nothing is opened
// then), or the file cannot be opened, written or closed completely.
int16_t WriteJobDescription(PluginContext* context);
