// Releases the context's converter when a transfer pass ends, by any path,
// exceptions included.
#pragma once

#include "convert/ConverterFactory.h"

class ConverterLease {
 public:
  explicit ConverterLease(PluginContext* context) : context_(context) {}
  ~ConverterLease() { ReleaseConverter(context_); }
  ConverterLease(const ConverterLease&) = delete;
  ConverterLease& operator=(const ConverterLease&) = delete;

 private:
  PluginContext* context_;
};
