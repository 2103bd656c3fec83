// Which build of the plug-in goes where on a Windows machine: the decisions
// the installer makes on Windows on ARM, where one Windows runs hosts of
// three architectures (ARM64 natively, x64 and x86 under emulation) and a
// host loads only modules of its own. Portable, so that they are tested
// where the installer itself cannot run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace placement {

enum class Arch { X86, X64, Arm64 };

// The build's folder, in the installer's folder and in the zip: "x86",
// "x64", "arm64".
const char* BuildFolder(Arch build);

// The architecture of a program from the Machine field of its PE file
// header (IMAGE_FILE_MACHINE_I386, _AMD64, _ARM64). An ARM64EC or ARM64X
// program runs as x64 code towards the modules it loads: it loads x64
// plug-ins, never ARM64 ones. Anything else (ARM32, a file of no known
// machine) gives no answer.
std::optional<Arch> ArchOfMachine(uint16_t machine);

// The same, read from the first bytes of a program file (its DOS header,
// and the PE header that it points to): what an installer reads from a
// host's .exe before it places a build for it.
std::optional<Arch> ArchOfProgram(const std::vector<uint8_t>& bytes);

// The builds that can run on a Windows of this architecture, in the order an
// installer places them into its own folder, each in its BuildFolder():
// x86 Windows runs x86 only; x64 Windows x64 and x86; ARM64 Windows all
// three (Windows 11 emulates x64 and x86).
std::vector<Arch> BuildsFor(Arch windows);

// The build a host program of this architecture loads, on this Windows;
// none when such a host cannot run there at all.
std::optional<Arch> BuildForHost(Arch windows, Arch host);

// Adobe's shared plug-in folders. 64-bit processes of either kind, ARM64
// and x64 alike, see one "Program Files" on Windows on ARM: only 32-bit x86
// processes get "Program Files (x86)". So the 64-bit shared folder serves a
// native ARM64 Photoshop and an x64 one under emulation at the same path,
// and a file there has one name, Velmora.8bf, for one architecture.
enum class SharedFolder {
  CommonFiles64,  // %CommonProgramFiles%\Adobe\Plug-Ins\CC
  CommonFiles32,  // %CommonProgramFiles(x86)%\Adobe\Plug-Ins\CC
};

// The build for a shared folder, given the architectures of the Photoshop
// versions installed (from each version's Photoshop.exe). On ARM64 Windows
// the 64-bit folder takes the ARM64 build when a native ARM64 Photoshop is
// there or none is known, since that is what Adobe installs on it; an x64
// Photoshop beside it then gets the x64 build in its own Plug-ins folder
// (PluginFolderNeedsOwnCopy). On 32-bit Windows the one Common Files folder
// is the 32-bit one; there is no 64-bit folder, and no build for it.
std::optional<Arch> BuildForSharedFolder(Arch windows, SharedFolder folder,
                                         const std::vector<Arch>& photoshops);

// Whether a Photoshop of this architecture needs its own copy in its own
// Plug-ins folder: when the shared folder it reads holds another build.
bool PluginFolderNeedsOwnCopy(Arch windows, Arch photoshop, const std::vector<Arch>& photoshops);

}  // namespace placement
