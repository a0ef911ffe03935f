#include "Wildcards.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "imageio/PathText.h"

namespace Kvl::Cli {
namespace {

namespace fs = std::filesystem;

bool sameLetter(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Past the UTF-8 character at `at`: a ? stands for a whole character.
std::size_t nextCharacter(std::string_view text, std::size_t at) {
  ++at;
  while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;  // 10xxxxxx
  return at;
}

bool isPattern(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

bool isExistingFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(pathOf(path), error);
}

// The files in `folder` whose names match `pattern`, each written as
// `prefix` (the folder as the user typed it) followed by its name.
std::vector<std::string> matchingFiles(const std::string& prefix, const std::string& pattern) {
  std::vector<std::string> found;
  std::error_code error;
  const fs::path folder = prefix.empty() ? fs::path(".") : pathOf(prefix);
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = textOf(it->path().filename());
    std::error_code typeError;
    if (matchesWildcard(pattern, name) && it->is_regular_file(typeError)) found.push_back(prefix + name);
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

// Greedy with one point of return: on a mismatch after a *, the * takes one
// more character and matching resumes. Linear in practice, never exponential.
bool matchesWildcard(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starAt = std::string_view::npos, resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n = nextCharacter(name, n);
    } else if (p < pattern.size() && sameLetter(pattern[p], name[n])) {
      ++p;
      ++n;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::optional<std::vector<std::string>> expandWildcards(const std::vector<std::string>& inputs,
                                                        std::string& unmatched) {
  std::vector<std::string> expanded;
  for (const std::string& input : inputs) {
    const std::size_t nameStart = input.find_last_of("/\\:") + 1;  // npos + 1 is 0
    const std::string_view name = std::string_view(input).substr(nameStart);
    if (!isPattern(name) || isExistingFile(input)) {
      expanded.push_back(input);
      continue;
    }
    const std::vector<std::string> found = matchingFiles(input.substr(0, nameStart), std::string(name));
    if (found.empty()) {
      unmatched = input;
      return std::nullopt;
    }
    expanded.insert(expanded.end(), found.begin(), found.end());
  }
  return expanded;
}

}  // namespace Kvl::Cli
