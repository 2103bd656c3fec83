// The import pass: the processed exchange image file, checked against the
// host image and written back into it row chunk by row chunk.
#pragma once

#include <cstdint>

#include "exchange/HostTransfer.h"

struct PluginContext;
class BlockReader;
class IConvertBuffer;

// Closes a still open importFile (-23 when that fails), then opens importPath
// read-only (-23 when that fails, in practice: no processed file).
int16_t OpenImportFile(PluginContext* context);
// Reads the header and every chunk, the chunks through a block read ahead
// from the file. -50, -19 (no match, short file), -128 or
// the host's advanceState code. A header that does not match or a file with
// fewer sample bytes than the image needs gives -19 before anything reaches
// the host, noting for the user why (not the kind asked for, another size,
// too few bytes); rows before a later failing chunk (a file that shrank meanwhile,
// a host error, a cancel) stay stored. A cancel is asked for after every
// chunk but the last: once that is stored the run has succeeded.
int16_t ImportProcessedImage(PluginContext* context);
// 0 when closed (or not open), -50 when the close fails.
int16_t CloseImportFile(PluginContext* context);
// Hands the host its own image back as the output, row chunk by row chunk,
// for a run that ends without a processed image: a host that starts the
// output blank and takes it whenever the run succeeds keeps its picture.
// Progress is reported after every chunk and a cancel asked for after every
// chunk but the last: -128 then. -50 when the host's planes or buffers
// cannot take a request, or the host's advanceState code.
int16_t ReturnHostImage(PluginContext* context);

// The file bytes of one request, from the reader: samples points at them in
// the reader's block until the next read. -19 when they are not all there.
int16_t ReadImportChunk(PluginContext* context, BlockReader& reader, const TransferRequest* request,
                        IConvertBuffer* converter, const void** samples);
// Asks the host for the request and converts the chunk's file bytes straight
// into outData. Where the host has a selection, the mask and the original
// samples of the same pixels come with the request, and the converted
// samples are blended with the original ones by the mask (no mask given:
// the request lies wholly in the selection). -50 when the chunk's host bytes
// are 0, exceed the converter's buffer or the host's outRowBytes (with a
// selection also inRowBytes, or the mask's row is shorter than the chunk, or
// there is no inData), or the converter refuses; the host's code when
// advanceState fails.
int16_t StoreOutputChunk(PluginContext* context, const TransferRequest* request,
                         IConvertBuffer* converter, const void* samples);
