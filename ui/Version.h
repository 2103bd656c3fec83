// The one place the plug-in's version is set; resources and the about text
// take it from here.
#pragma once

#define VELMORA_VERSION_MAJOR 1
#define VELMORA_VERSION_MINOR 1
#define VELMORA_VERSION_TEXT "1.01"
#define VELMORA_VERSION_LINE "Velmora Plugin (32-Bit) v" VELMORA_VERSION_TEXT
#define VELMORA_PRODUCT_NAME "Velmora"
