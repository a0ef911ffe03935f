#pragma once
// An output file that replaces its target only once it has been written in
// full. The bytes go to a temporary file beside the target; commit() checks
// every write and the close, then puts the temporary file in the target's
// place. Until then, and on any failure, the target stays as it was and the
// temporary file is removed.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace Kvl {

class ReplacingFile {
public:
  explicit ReplacingFile(std::string targetPath);
  ~ReplacingFile();  // an uncommitted file is discarded
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // False when the target cannot be replaced (its folder is missing, it is
  // a folder or a file we may not write) or no temporary file can be made.
  bool open();
  void write(const void* bytes, std::size_t count);
  void seek(std::uint64_t offset);
  bool commit();

  const std::string& temporaryPath() const { return temporaryPath_; }

  // For an interrupted run (Ctrl-C on Windows, where the program goes on
  // running while it answers): from now on no file opens or commits, and
  // every open one is discarded at its next write or commit, so nothing
  // half-written is left under any name. openCount() falls to zero once
  // every temporary file is closed and removed.
  static void abandonAll();
  static bool abandoned();
  static int openCount();

private:
  bool targetIsReplaceable() const;
  bool moveIntoPlace();
  void discard();
  void setOpen(bool open);

  std::string targetPath_;
  std::string temporaryPath_;
  std::ofstream stream_;
  bool open_ = false;
};

}  // namespace Kvl
