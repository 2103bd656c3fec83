// The installer's choices of build per folder and host, above all on Windows
// on ARM, where hosts of three architectures share one Windows.
#include "installer/placement/BuildPlacement.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using placement::Arch;
using placement::SharedFolder;

// A program's first bytes: a DOS header pointing at a PE header at 0x80.
std::vector<uint8_t> Program(uint16_t machine, uint32_t peAt = 0x80, size_t size = 0x100) {
  std::vector<uint8_t> bytes(size, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<uint8_t>(peAt >> (8 * i));
  if (size_t{peAt} + 6 <= size) {
    bytes[peAt] = 'P';
    bytes[peAt + 1] = 'E';
    bytes[peAt + 4] = static_cast<uint8_t>(machine);
    bytes[peAt + 5] = static_cast<uint8_t>(machine >> 8);
  }
  return bytes;
}

TEST(BuildPlacement, EachBuildHasAFolderOfItsOwn) {
  EXPECT_STREQ(placement::BuildFolder(Arch::X86), "x86");
  EXPECT_STREQ(placement::BuildFolder(Arch::X64), "x64");
  EXPECT_STREQ(placement::BuildFolder(Arch::Arm64), "arm64");
}

TEST(BuildPlacement, AHostsArchitectureComesFromItsProgramsMachine) {
  EXPECT_EQ(placement::ArchOfProgram(Program(0x014C)), Arch::X86);
  EXPECT_EQ(placement::ArchOfProgram(Program(0x8664)), Arch::X64);
  EXPECT_EQ(placement::ArchOfProgram(Program(0xAA64)), Arch::Arm64);
  // ARM64EC and ARM64X programs load x64 modules, as an x64 host does.
  EXPECT_EQ(placement::ArchOfProgram(Program(0xA641)), Arch::X64);
  EXPECT_EQ(placement::ArchOfProgram(Program(0xA64E)), Arch::X64);
  // ARM32, and anything that is no PE program, gets no build.
  EXPECT_EQ(placement::ArchOfProgram(Program(0x01C4)), std::nullopt);
  std::vector<uint8_t> notMz = Program(0xAA64);
  notMz[0] = 'Z';
  EXPECT_EQ(placement::ArchOfProgram(notMz), std::nullopt);
  std::vector<uint8_t> notPe = Program(0xAA64);
  notPe[0x81] = 'X';
  EXPECT_EQ(placement::ArchOfProgram(notPe), std::nullopt);
  // A PE header beyond the bytes read, or cut before its Machine field.
  EXPECT_EQ(placement::ArchOfProgram(Program(0xAA64, 0x200)), std::nullopt);
  EXPECT_EQ(placement::ArchOfProgram(Program(0xAA64, 0xFC)), std::nullopt);
  EXPECT_EQ(placement::ArchOfProgram(Program(0xAA64, 0xFFFFFFFFu)), std::nullopt);
  EXPECT_EQ(placement::ArchOfProgram(std::vector<uint8_t>{'M', 'Z'}), std::nullopt);
}

TEST(BuildPlacement, WindowsOnArmRunsHostsOfAllThreeArchitectures) {
  EXPECT_EQ(placement::BuildsFor(Arch::X86), std::vector<Arch>{Arch::X86});
  EXPECT_EQ(placement::BuildsFor(Arch::X64), (std::vector<Arch>{Arch::X64, Arch::X86}));
  EXPECT_EQ(placement::BuildsFor(Arch::Arm64),
            (std::vector<Arch>{Arch::Arm64, Arch::X64, Arch::X86}));
  // Each host gets the build of its own architecture, never Windows' one.
  EXPECT_EQ(placement::BuildForHost(Arch::Arm64, Arch::Arm64), Arch::Arm64);
  EXPECT_EQ(placement::BuildForHost(Arch::Arm64, Arch::X64), Arch::X64);
  EXPECT_EQ(placement::BuildForHost(Arch::Arm64, Arch::X86), Arch::X86);
  EXPECT_EQ(placement::BuildForHost(Arch::X64, Arch::X86), Arch::X86);
  EXPECT_EQ(placement::BuildForHost(Arch::X64, Arch::Arm64), std::nullopt);
  EXPECT_EQ(placement::BuildForHost(Arch::X86, Arch::X64), std::nullopt);
}

TEST(BuildPlacement, TheSharedAdobeFolderHoldsOneBuildForBothKindsOf64BitPhotoshop) {
  const std::vector<Arch> none;
  // Where there is no ARM, as before.
  EXPECT_EQ(placement::BuildForSharedFolder(Arch::X64, SharedFolder::CommonFiles64, none),
            Arch::X64);
  EXPECT_EQ(placement::BuildForSharedFolder(Arch::X64, SharedFolder::CommonFiles32, none),
            Arch::X86);
  EXPECT_EQ(placement::BuildForSharedFolder(Arch::X86, SharedFolder::CommonFiles64, none),
            std::nullopt);
  EXPECT_EQ(placement::BuildForSharedFolder(Arch::X86, SharedFolder::CommonFiles32, none),
            Arch::X86);
  // On ARM: the native build, unless only x64 versions read the folder.
  EXPECT_EQ(placement::BuildForSharedFolder(Arch::Arm64, SharedFolder::CommonFiles64, none),
            Arch::Arm64);
  EXPECT_EQ(
      placement::BuildForSharedFolder(Arch::Arm64, SharedFolder::CommonFiles64, {Arch::Arm64}),
      Arch::Arm64);
  EXPECT_EQ(placement::BuildForSharedFolder(Arch::Arm64, SharedFolder::CommonFiles64,
                                            {Arch::X64, Arch::Arm64}),
            Arch::Arm64);
  EXPECT_EQ(placement::BuildForSharedFolder(Arch::Arm64, SharedFolder::CommonFiles64, {Arch::X64}),
            Arch::X64);
  EXPECT_EQ(placement::BuildForSharedFolder(Arch::Arm64, SharedFolder::CommonFiles32, {Arch::X64}),
            Arch::X86);
}

TEST(BuildPlacement, APhotoshopGetsItsOwnCopyOnlyWhereTheSharedFolderHoldsAnotherBuild) {
  const std::vector<Arch> both = {Arch::Arm64, Arch::X64};
  EXPECT_FALSE(placement::PluginFolderNeedsOwnCopy(Arch::Arm64, Arch::Arm64, both));
  EXPECT_TRUE(placement::PluginFolderNeedsOwnCopy(Arch::Arm64, Arch::X64, both));
  EXPECT_FALSE(placement::PluginFolderNeedsOwnCopy(Arch::Arm64, Arch::X64, {Arch::X64}));
  EXPECT_FALSE(placement::PluginFolderNeedsOwnCopy(Arch::Arm64, Arch::X86, both));
  EXPECT_FALSE(placement::PluginFolderNeedsOwnCopy(Arch::X64, Arch::X64, {Arch::X64}));
  EXPECT_FALSE(placement::PluginFolderNeedsOwnCopy(Arch::X64, Arch::X86, {Arch::X86}));
  EXPECT_FALSE(placement::PluginFolderNeedsOwnCopy(Arch::X86, Arch::X86, {Arch::X86}));
  // A host that cannot run there gets nothing.
  EXPECT_FALSE(placement::PluginFolderNeedsOwnCopy(Arch::X64, Arch::Arm64, {Arch::Arm64}));
}

}  // namespace
