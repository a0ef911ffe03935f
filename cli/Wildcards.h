#pragma once
// File-name patterns for the Windows build: cmd and PowerShell hand
// "shots\*.jpg" to the program as it was typed, and Windows users expect
// the program to expand it. On Linux the shell has already done so.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Kvl::Cli {

// Whether `name` matches `pattern`, where * stands for any run of
// characters and ? for one; letters match without regard to case, as file
// names do on Windows.
bool matchesWildcard(std::string_view pattern, std::string_view name);

// Each input with * or ? in its last part becomes the files it matches in
// its folder, sorted by name; an input that names an existing file is kept
// as it is, whatever it holds. Nothing, with `unmatched` set to the
// pattern, when a pattern matches no file.
std::optional<std::vector<std::string>> expandWildcards(const std::vector<std::string>& inputs,
                                                        std::string& unmatched);

}  // namespace Kvl::Cli
