// The working folder shared with the stand-alone application and the names of
// the files exchanged in it.
#pragma once

#include <cstdint>
#include <string>

#include "convert/PixelFormat.h"

struct PluginContext;

constexpr const char* kWorkFolderName = "velmorafilter";
constexpr const char* kJobFileName = "Data.lif";
constexpr const char* kProcessedSuffix = "_Processed";

// Kind of exchange file: 16-bit pixmap ("ppm") or float map ("pfm").
enum EFileKind : int32_t { eNoFileKind = 0, ePixmap16 = 1, eFloatMap = 2 };

// The user's temporary folder with a trailing backslash, in its short form
// when its own name would leave no room for the working folder's file paths
// in the 260-byte buffers. False, with the path empty, when the system gives
// none or neither form leaves that room.
bool GetTempFolder(std::string& path);

// The working folder path (no trailing backslash), created when missing and,
// when empty is true, emptied of its plain files. False when there is no
// temporary folder or the folder cannot be created.
bool PrepareWorkFolder(std::string& path, bool empty);

// The RGB format of the host format's depth (RGB8, RGB16, RGB32F), or None.
EPixelFormat GetFileFormat(int32_t hostFormat);

// RGB8 and RGB16 travel as 16-bit pixmaps, RGB32F as float maps.
EFileKind GetFileKind(int32_t fileFormat);

// "Velmora.ppm" or "Velmora.pfm" after the host image's pixel format. False,
// with the name empty, when the image has no supported pixel format.
bool GetExportFileName(PluginContext* context, std::string& name);

// "Velmora_Processed.ppm" or "Velmora_Processed.pfm"; otherwise as above.
bool GetProcessedFileName(PluginContext* context, std::string& name);

// Start steps on gContext: prepare and empty the working folder, then store
// the exported (processed) image's full path in exportPath (importPath).
// -50, with the path zero-filled, when the folder or the name cannot be made
// or the full path does not fit the 260-byte buffer, and for SetImportPath
// also when a processed file (either kind) could not be deleted with the rest
// of the folder; 0 otherwise.
int16_t SetExportPath();
int16_t SetImportPath();
