// The one place the plug-in's version is set; resources, the about text and
// the release files (tools/package.sh reads the defines below) take it from
// here.
#pragma once

#define VELMORA_VERSION_MAJOR 1
#define VELMORA_VERSION_MINOR 1
#define VELMORA_VERSION_TEXT "1.01"
#define VELMORA_VERSION_LINE "Velmora Plugin (32-Bit) v" VELMORA_VERSION_TEXT
#define VELMORA_PRODUCT_NAME "Velmora"
#define VELMORA_COMPANY_NAME "Orlith"
