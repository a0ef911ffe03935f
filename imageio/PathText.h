#pragma once
// File names as the program holds them (std::string) and as the standard
// library's file-system calls take them. On Windows the library reads a
// narrow name as Latin-1 but writes one back as UTF-8; keyvale-cli's names
// are UTF-8 (its manifest makes that the process's code page), so both
// directions go through UTF-8 here. Elsewhere a name is its bytes.

#include <filesystem>
#include <string>

namespace Kvl {

inline std::filesystem::path pathOf(const std::string& text) {
#ifdef _WIN32
  // A name in a code page other than UTF-8 (the window's, on a system that
  // does not honour the manifest) is not valid UTF-8: it keeps the
  // library's own reading.
  try {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
  } catch (const std::exception&) {
  }
#endif
  return std::filesystem::path(text);
}

inline std::string textOf(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

}  // namespace Kvl
