// The export pass: the whole host image, row chunk by row chunk through
// advanceState, converted and written as the exchange image file.
#pragma once

#include <cstdint>

#include "exchange/HostTransfer.h"

struct PluginContext;
class BlockWriter;

// Closes a still open exportFile (-23 when that fails), then creates or
// truncates exportPath for writing (-23 when that fails, noting for the user
// the file and the system's reason).
int16_t OpenExportFile(PluginContext* context);
// Writes the header and every chunk, the chunks through a block that reaches
// the file when it is full and with the last chunk. Returns the first
// failure: -50, -20 (also for the last block), -128 or the host's
// advanceState code; after a cancel or a host error the chunks before it are
// in the file. A -20 notes for the user the file and the system's reason, or
// on a full disk the bytes needed and free. The converter is released always.
int16_t ExportHostImage(PluginContext* context);
// 0 when closed (or not open), -50 when the close fails.
int16_t CloseExportFile(PluginContext* context);

// Asks the host for one request and hands out inData and inRowBytes; throws
// EHostFault when the host served the request without data.
int16_t FetchInputChunk(PluginContext* context, const TransferRequest* request, const void** data,
                        int32_t* rowBytes);
// Converts the delivered data (size: the host's row bytes) straight into the
// writer's block as the chunk's file bytes. -50 when the converter refuses
// it (a delivery shorter than the chunk), -20 when a block write fails.
int16_t ConvertExportChunk(PluginContext* context, BlockWriter& writer, const void* data,
                           uint32_t size, uint32_t pixels);
