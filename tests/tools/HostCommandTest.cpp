// The command-line host's arguments: what is accepted, what is refused with
// which reason, and how the host format follows from the input file.
#include "tools/cmdhost/HostCommand.h"

#include <gtest/gtest.h>

namespace {

using cmdhost::HostCommand;
using cmdhost::ModeChoice;
using cmdhost::ParseCommandLine;
using cmdhost::UsageError;

std::string Error(const std::vector<std::string>& args) {
  try {
    ParseCommandLine(args);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "";
}

TEST(HostCommand, ThreeFilesWithDefaults) {
  const HostCommand c = ParseCommandLine({"f.8bf", "in.ppm", "out.ppm"});
  EXPECT_FALSE(c.help);
  EXPECT_FALSE(c.about);
  EXPECT_EQ(c.plugin, "f.8bf");
  EXPECT_EQ(c.input, "in.ppm");
  EXPECT_EQ(c.output, "out.ppm");
  EXPECT_EQ(c.mode, ModeChoice::kFromInput);
  EXPECT_EQ(c.depth, 0);
  EXPECT_FALSE(c.bigDocument);
  EXPECT_TRUE(c.handleProcs);
  EXPECT_FALSE(c.profile);
  EXPECT_EQ(c.play, cmdhost::PlayChoice::kNoActions);
  EXPECT_EQ(c.hostSig, "8BIM");
}

TEST(HostCommand, PlayModeAndHostSignature) {
  EXPECT_EQ(ParseCommandLine({"--play", "menu", "a", "b", "c"}).play, cmdhost::PlayChoice::kMenu);
  EXPECT_EQ(ParseCommandLine({"--play=action", "a", "b", "c"}).play, cmdhost::PlayChoice::kAction);
  EXPECT_EQ(ParseCommandLine({"a", "b", "c", "--play", "silent"}).play,
            cmdhost::PlayChoice::kSilent);
  EXPECT_EQ(ParseCommandLine({"--host-sig", "PSP9", "a", "b", "c"}).hostSig, "PSP9");
  EXPECT_EQ(ParseCommandLine({"--host-sig=NDP.", "a", "b", "c"}).hostSig, "NDP.");
  EXPECT_NE(Error({"--play", "loud", "a", "b", "c"}).find("'loud'"), std::string::npos);
  EXPECT_NE(Error({"--host-sig", "PSP", "a", "b", "c"}).find("four"), std::string::npos);
  EXPECT_NE(Error({"--host-sig", "PS\tP", "a", "b", "c"}), "");
  EXPECT_NE(Error({"a", "b", "c", "--play"}).find("needs a value"), std::string::npos);
}

TEST(HostCommand, OptionsAnywhereInBothSpellings) {
  const HostCommand c = ParseCommandLine(
      {"--big", "f.8bf", "--mode=gray", "in.pfm", "--depth", "32", "--no-handle-procs", "out.pfm"});
  EXPECT_EQ(c.plugin, "f.8bf");
  EXPECT_EQ(c.input, "in.pfm");
  EXPECT_EQ(c.output, "out.pfm");
  EXPECT_EQ(c.mode, ModeChoice::kGray);
  EXPECT_EQ(c.depth, 32);
  EXPECT_TRUE(c.bigDocument);
  EXPECT_FALSE(c.handleProcs);
  EXPECT_EQ(ParseCommandLine({"--mode", "rgb", "a", "b", "c"}).mode, ModeChoice::kRgb);
  EXPECT_EQ(ParseCommandLine({"--depth=8", "a", "b", "c"}).depth, 8);
  EXPECT_TRUE(ParseCommandLine({"a", "--profile", "b", "c"}).profile);
  EXPECT_EQ(ParseCommandLine({"--mask", "sel.pgm", "a", "b", "c"}).mask, "sel.pgm");
  EXPECT_TRUE(ParseCommandLine({"a", "b", "c"}).mask.empty());
  EXPECT_NE(Error({"a", "b", "c", "--mask"}).find("needs a value"), std::string::npos);
  EXPECT_NE(Error({"--profile=1", "a", "b", "c"}).find("takes no value"), std::string::npos);
}

TEST(HostCommand, DoubleDashEndsOptions) {
  const HostCommand c = ParseCommandLine({"--", "-odd.8bf", "in", "out"});
  EXPECT_EQ(c.plugin, "-odd.8bf");
}

TEST(HostCommand, AboutTakesThePluginOnly) {
  const HostCommand c = ParseCommandLine({"--about", "f.8bf"});
  EXPECT_TRUE(c.about);
  EXPECT_EQ(c.plugin, "f.8bf");
  EXPECT_NE(Error({"--about", "f.8bf", "in.ppm"}), "");
  EXPECT_NE(Error({"--about"}), "");
}

TEST(HostCommand, HelpWinsOverAnythingElse) {
  EXPECT_TRUE(ParseCommandLine({"--depth", "7", "-h"}).help);
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
}

TEST(HostCommand, RefusesBadValuesNamingThem) {
  EXPECT_NE(Error({"--depth", "12", "a", "b", "c"}).find("'12'"), std::string::npos);
  EXPECT_NE(Error({"--depth=", "a", "b", "c"}), "");
  EXPECT_NE(Error({"--mode", "cmyk", "a", "b", "c"}).find("'cmyk'"), std::string::npos);
  EXPECT_NE(Error({"a", "b", "c", "--mode"}).find("needs a value"), std::string::npos);
  EXPECT_NE(Error({"--big=yes", "a", "b", "c"}).find("takes no value"), std::string::npos);
}

TEST(HostCommand, RefusesUnknownOptions) {
  EXPECT_NE(Error({"--bigg", "a", "b", "c"}).find("--bigg"), std::string::npos);
  EXPECT_NE(Error({"-x", "a", "b", "c"}).find("-x"), std::string::npos);
}

TEST(HostCommand, RefusesWrongFileCounts) {
  EXPECT_NE(Error({}), "");
  EXPECT_NE(Error({"a", "b"}).find("2 files"), std::string::npos);
  EXPECT_NE(Error({"a", "b", "c", "d"}), "");
}

TEST(HostCommand, UsageNamesEveryOption) {
  const std::string usage = cmdhost::UsageText();
  for (const char* option : {"--mode", "--depth", "--big", "--no-handle-procs", "--play",
                             "--host-sig", "--profile", "--about", "--help"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

TEST(HostCommand, FormatFollowsTheInputUnlessAsked) {
  const HostCommand defaults = ParseCommandLine({"a", "b", "c"});
  auto format = [&](const HostCommand& c, int channels, uint32_t maxValue) {
    return cmdhost::ChooseFormat(c, imagefile::MakeImage(1, 1, channels, maxValue));
  };
  EXPECT_EQ(format(defaults, 3, 65535).depth, 16);
  EXPECT_FALSE(format(defaults, 3, 65535).gray);
  EXPECT_EQ(format(defaults, 3, 256).depth, 16);
  EXPECT_EQ(format(defaults, 1, 255).depth, 8);
  EXPECT_TRUE(format(defaults, 1, 255).gray);
  EXPECT_EQ(format(defaults, 3, 0).depth, 32);
  EXPECT_TRUE(format(defaults, 1, 0).gray);

  const HostCommand asked = ParseCommandLine({"--mode", "rgb", "--depth", "8", "a", "b", "c"});
  EXPECT_EQ(format(asked, 1, 0).depth, 8);
  EXPECT_FALSE(format(asked, 1, 0).gray);
  EXPECT_TRUE(format(ParseCommandLine({"--mode", "gray", "a", "b", "c"}), 3, 255).gray);
}

}  // namespace
