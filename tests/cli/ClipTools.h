#pragma once
// Clips for the clip tests, made and probed with the ffmpeg tool rather than
// with keyvale-cli's own reader; the tests skip where either is missing (the
// Windows builds have no video libraries).

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "video/VideoFiles.h"

namespace Kvl::Test {

inline bool canTestClips() {
  static const bool ready = canReadClips() && std::system("ffmpeg -version >/dev/null 2>&1") == 0;
  return ready;
}

#define SKIP_WITHOUT_VIDEO() \
  if (!::Kvl::Test::canTestClips()) GTEST_SKIP() << "no video libraries or no ffmpeg tool"

inline void ffmpeg(const std::string& arguments) {
  const std::string command = "ffmpeg -v error -nostdin -y " + arguments;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// One entry of the stream, e.g. probe(path, "v", "stream=codec_name").
inline std::string probe(const std::string& path, const std::string& stream, const std::string& entry) {
  const std::string command = "ffprobe -v error -select_streams " + stream + " -show_entries " + entry +
                              " -of default=nw=1:nk=1 '" + path + "' > '" + path + ".probe'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::ifstream file(path + ".probe");
  std::string value;
  std::getline(file, value);
  return value;
}

}  // namespace Kvl::Test
