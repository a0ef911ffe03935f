// The command line itself: what is a usage error (exit 2, usage text on
// stderr), what --help and --version print, and how the two forms of `key`
// are told apart.

#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "Version.h"
#include "cli/Arguments.h"

namespace Kvl::Test {
namespace {

using Cli::Command;
using Cli::OutputFormat;

TEST(CommandLine, UsageErrorsExitTwoWithTheReasonAndTheUsage) {
  const struct {
    std::vector<std::string> arguments;
    const char* reason;
  } cases[] = {
      {{}, "no command given"},
      {{"paint", "a.tga"}, "unknown command 'paint'"},
      {{"key", "a.tga", "b.tga", "--channel", "purple"}, "--channel takes red, green, blue or auto"},
      {{"key", "a.tga", "b.tga", "--contrast", "256"}, "--contrast takes a number from 0 to 255"},
      {{"key", "a.tga", "b.tga", "--offset", "-1"}, "--offset takes a number from 0 to 255"},
      {{"key", "a.tga", "b.tga", "--contrast", "12x"}, "--contrast takes a number from 0 to 255"},
      {{"key", "a.tga", "b.tga", "--contrast"}, "--contrast: 1 required N missing"},
      {{"key", "a.tga", "b.tga", "--channel"}, "--channel: 1 required"},
      {{"preview", "a.tga", "--composite", "c", "--matte", "m", "--scroll", "1000001"},
       "--scroll takes a number from 0 to 1000000"},
      {{"key", "a.tga"}, "key takes INPUT OUTPUT"},
      {{"key", "a.tga", "b.tga", "c.tga"}, "key takes INPUT OUTPUT"},
      {{"key", "a.tga", "b.tga", "--auto-adjust", "--contrast", "4"}, "--auto-adjust chooses Contrast"},
      {{"key", "a.tga", "b.tga", "--offset", "4", "--auto-adjust"}, "--auto-adjust chooses Contrast"},
      {{"key", "--out-dir", "out"}, "needs at least one INPUT"},
      {{"key", "a.tga", "--out-dir", "out", "--jobs", "0"}, "--jobs takes a number from 1 to 256"},
      {{"key", "a.tga", "--out-dir", "out", "--format", "gif"}, "--format takes tga, png, jpg, exr or tif"},
      {{"key", "a.tga", "b.tga", "--scroll", "3"}, "not expected: --scroll"},
      {{"key", "a.tga", "b.tga", "--loud"}, "not expected: --loud"},
      {{"preview", "a.tga", "--composite", "c.tga"}, "preview needs --composite FILE and --matte FILE"},
      {{"preview", "a.tga", "--composite", "c", "--matte", "m", "--quiet"}, "not expected: --quiet"},
      {{"preview", "a.tga", "--composite", "c", "--matte", "m", "--out-dir", "o"}, "not expected: --out-dir"},
  };
  for (const auto& c : cases) {
    const CliRun run = runCli(c.arguments);
    EXPECT_EQ(run.status, Cli::ExitUsage) << c.reason;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Usage:"), std::string::npos) << c.reason;
    EXPECT_TRUE(run.out.empty()) << c.reason;
  }
}

TEST(CommandLine, HelpAndVersionGoToStdoutAndSucceed) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, {"-h"}, {"help"}, {"key", "--help"}, {"key", "a.tga", "-h"}}) {
    const CliRun run = runCli(arguments);
    EXPECT_EQ(run.status, Cli::ExitSuccess);
    EXPECT_TRUE(run.err.empty());
    EXPECT_EQ(run.out, Cli::helpText());
  }
  const CliRun version = runCli({"--version"});
  EXPECT_EQ(version.status, Cli::ExitSuccess);
  EXPECT_EQ(version.out, std::string("keyvale-cli ") + KeyvaleVersion + "\n");
}

TEST(CommandLine, HelpDocumentsEveryOptionWithAnExample) {
  const std::string help = Cli::helpText();
  for (const char* option : {"--channel", "--contrast", "--offset", "--auto-adjust", "--out-dir", "--format",
                             "--jobs", "--quiet", "--overwrite", "--composite", "--matte", "--scroll"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_NE(help.find("e.g. --jobs 2"), std::string::npos);
  EXPECT_NE(help.find("keyvale-cli key frames/*.png --out-dir keyed"), std::string::npos);
  EXPECT_NE(help.find("Exit status: 0 all keyed, 1 a file could not be read or written, 2 usage."), std::string::npos);
  EXPECT_NE(help.find("keyvale-cli key INPUT... --out-dir DIR"), std::string::npos);
}

TEST(CommandLine, SingleAndBatchFormsOfKey) {
  std::string error;
  const auto single = Cli::parseArguments({"key", "in.jpg", "out.PNG", "--channel", "auto"}, error);
  ASSERT_TRUE(single) << error;
  EXPECT_FALSE(single->batch());
  EXPECT_EQ(single->inputs, std::vector<std::string>{"in.jpg"});
  EXPECT_EQ(single->output, "out.PNG");
  EXPECT_FALSE(single->settings.channel.has_value());
  EXPECT_EQ(Cli::outputFormatOf(*single), OutputFormat::Png);  // named *.png: written as PNG

  const auto forced = Cli::parseArguments({"key", "in.tga", "out.png", "--format", "tga"}, error);
  ASSERT_TRUE(forced) << error;
  EXPECT_EQ(Cli::outputFormatOf(*forced), OutputFormat::Targa);

  const auto batch = Cli::parseArguments(
      {"key", "a.tga", "--jobs", "3", "b.png", "--out-dir", "keyed", "c.jpg", "--quiet", "--overwrite"}, error);
  ASSERT_TRUE(batch) << error;
  EXPECT_TRUE(batch->batch());
  EXPECT_EQ(batch->inputs, (std::vector<std::string>{"a.tga", "b.png", "c.jpg"}));
  EXPECT_EQ(batch->outDir, "keyed");
  EXPECT_EQ(batch->jobs, 3);
  EXPECT_TRUE(batch->quiet);
  EXPECT_TRUE(batch->overwrite);
  EXPECT_EQ(Cli::outputFormatOf(*batch), OutputFormat::Targa);

  // One input is still the batch form when --out-dir is given.
  const auto one = Cli::parseArguments({"key", "a.tga", "--out-dir", "keyed"}, error);
  ASSERT_TRUE(one) << error;
  EXPECT_EQ(one->inputs.size(), 1u);
}

}  // namespace
}  // namespace Kvl::Test
