// Choice and ownership of the converter of an export or import pass. The
// context holds at most one converter; each factory call releases the one
// still held before it creates another.
#pragma once

struct PluginContext;

// Creates the converter from the host's format to the exchange file's (16-bit
// three-channel for 8-bit and 16-bit hosts, float three-channel for 32-bit
// hosts) and stores it in the context. False, with no converter held, for an
// unsupported host image. Throws EError for a missing context or FilterRecord.
bool CreateExportConverter(PluginContext* context);

// The same for the direction from the exchange file back to the host.
bool CreateImportConverter(PluginContext* context);

// Deletes the converter held by the context, if any; none is held afterwards.
// Throws EError for a missing context or FilterRecord.
void ReleaseConverter(PluginContext* context);
