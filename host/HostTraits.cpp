#include "host/HostTraits.h"

bool IsSilentPlay(const host::FilterRecord* record) {
  const host::PIDescriptorParameters* play = record->descriptorParameters;
  return play != nullptr && play->playInfo == host::kPlaySilent;
}

bool ShowsErrorString(const host::FilterRecord* record) {
  const host::OSType signature = record->hostSig;
  return signature == host::MakeOSType('8', 'B', 'I', 'M') ||
         signature == host::MakeOSType('N', 'D', 'P', '.');
}
