#include "installer/placement/BuildPlacement.h"

#include <algorithm>

namespace placement {

namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMachineArm64 = 0xAA64;
constexpr uint16_t kMachineArm64EC = 0xA641;
constexpr uint16_t kMachineArm64X = 0xA64E;

uint32_t ReadU32(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

bool Has(const std::vector<Arch>& list, Arch arch) {
  return std::find(list.begin(), list.end(), arch) != list.end();
}

}  // namespace

const char* BuildFolder(Arch build) {
  switch (build) {
    case Arch::X86:
      return "x86";
    case Arch::X64:
      return "x64";
    case Arch::Arm64:
      return "arm64";
  }
  return "";
}

std::optional<Arch> ArchOfMachine(uint16_t machine) {
  switch (machine) {
    case kMachineI386:
      return Arch::X86;
    case kMachineAmd64:
    case kMachineArm64EC:
    case kMachineArm64X:
      return Arch::X64;
    case kMachineArm64:
      return Arch::Arm64;
    default:
      return std::nullopt;
  }
}

std::optional<Arch> ArchOfProgram(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return std::nullopt;
  const uint32_t pe = ReadU32(bytes, 0x3C);
  // The signature and the Machine field after it, within the bytes read.
  if (pe > bytes.size() || bytes.size() - pe < 6) return std::nullopt;
  if (bytes[pe] != 'P' || bytes[pe + 1] != 'E' || bytes[pe + 2] != 0 || bytes[pe + 3] != 0) {
    return std::nullopt;
  }
  return ArchOfMachine(static_cast<uint16_t>(bytes[pe + 4] | bytes[pe + 5] << 8));
}

std::vector<Arch> BuildsFor(Arch windows) {
  switch (windows) {
    case Arch::X86:
      return {Arch::X86};
    case Arch::X64:
      return {Arch::X64, Arch::X86};
    case Arch::Arm64:
      return {Arch::Arm64, Arch::X64, Arch::X86};
  }
  return {};
}

std::optional<Arch> BuildForHost(Arch windows, Arch host) {
  if (!Has(BuildsFor(windows), host)) return std::nullopt;
  return host;
}

std::optional<Arch> BuildForSharedFolder(Arch windows, SharedFolder folder,
                                         const std::vector<Arch>& photoshops) {
  if (folder == SharedFolder::CommonFiles32) return Arch::X86;
  switch (windows) {
    case Arch::X86:
      return std::nullopt;
    case Arch::X64:
      return Arch::X64;
    case Arch::Arm64:
      // Only x64 versions known: they are the ones that read it.
      if (!photoshops.empty() && !Has(photoshops, Arch::Arm64) && Has(photoshops, Arch::X64)) {
        return Arch::X64;
      }
      return Arch::Arm64;
  }
  return std::nullopt;
}

bool PluginFolderNeedsOwnCopy(Arch windows, Arch photoshop, const std::vector<Arch>& photoshops) {
  const SharedFolder folder = photoshop == Arch::X86 && windows != Arch::X86
                                  ? SharedFolder::CommonFiles32
                                  : SharedFolder::CommonFiles64;
  const std::optional<Arch> shared = windows == Arch::X86
                                         ? std::optional<Arch>(Arch::X86)
                                         : BuildForSharedFolder(windows, folder, photoshops);
  return BuildForHost(windows, photoshop).has_value() && shared != photoshop;
}

}  // namespace placement
