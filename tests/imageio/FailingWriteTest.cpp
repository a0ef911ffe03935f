// Saves that cannot succeed: a missing folder, a read-only target, a full
// disk, a target that is (or becomes) a folder. Each must report the
// failure, leave an existing target byte for byte as it was, and leave no
// temporary file behind.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "WriteChecks.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/ImageSaver.h"
#include "imageio/ReplacingFile.h"
#include "support/RecordingShell.h"
#include "support/TgaBytes.h"

#if defined(__linux__)
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#endif

namespace Kvl {
namespace {

using Test::partialFilesUnder;
using Test::readFileBytes;
using Test::RecordingShell;
using Test::TempDir;
using Test::TgaBytes;
using Bytes = std::vector<std::uint8_t>;

const Bytes PreviousTarget = {'a', 'n', ' ', 'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 's', 'a', 'v', 'e'};

void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class FailingWriteTest : public ::testing::Test {
protected:
  // 200 x 100 pixels: an 80,018-byte output, more than the small disks below hold.
  std::string writeSource(const std::filesystem::path& folder) const {
    std::vector<Pixel32> pixels;
    for (std::uint32_t i = 0; i < 200u * 100u; ++i) pixels.push_back(makePixel(40, static_cast<std::uint8_t>(i), 60));
    return TgaBytes(200, 100).pixels(pixels).writeTo(folder / "source.tga");
  }

  bool save(const std::string& target, const std::string& from) {
    return saver.save(target.c_str(), from.c_str(), GreenChannel, 10, 20);
  }

  // The save failed as a write failure must: false, the target as it was,
  // nothing left over beside it or anywhere in the test's folder.
  void expectFailureKeeps(const std::string& target, const Bytes& before, const std::filesystem::path& folder) {
    EXPECT_FALSE(save(target, source));
    EXPECT_NE(saver.error(), SaveError::None);
    EXPECT_NE(saver.error(), SaveError::SourceUnreadable);
    EXPECT_EQ(readFileBytes(target), before);
    EXPECT_EQ(partialFilesUnder(folder), std::vector<std::string>{});
    EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
  }

  // Through the key processor, as the window's Save As runs it: exactly one
  // message box.
  std::vector<std::string> saveThroughProcessor(const std::string& target) {
    RecordingShell shell;
    PreviewWorkspace workspace(shell);
    workspace.processor().loadSource(source.c_str());
    workspace.processor().saveKeyed(target.c_str(), GreenChannel, 10, 20);
    return shell.calls;
  }

  TempDir dir;
  std::string source = writeSource(dir.path());
  TgaSaver saver;
};

const std::vector<std::string> OneSaveFailedBox = {"error Unable to save file. / Saving Failed"};

// Ctrl-C on Windows abandons every output of the process: one being written
// is discarded, with its temporary file, and none opens afterwards. In a
// child process of its own, as abandoning is for good; the checks are made
// there too, as the child may run the test afresh in a folder of its own.
bool abandoningLeavesNothing() {
  TempDir dir;
  const std::string target = (dir.path() / "keyed.tga").string();
  writeBytes(target, PreviousTarget);
  ReplacingFile writing(target);
  if (!writing.open()) std::_Exit(2);
  writing.write("new", 3);
  ReplacingFile::abandonAll();
  writing.write("more", 4);
  ReplacingFile next((dir.path() / "next.tga").string());
  const bool refused = !writing.commit() && !next.open() && ReplacingFile::openCount() == 0;
  const bool untouched = readFileBytes(target) == PreviousTarget && partialFilesUnder(dir.path()).empty() &&
                         !std::filesystem::exists(dir.path() / "next.tga");
  return refused && untouched;
}

[[noreturn]] void abandonWhileWriting() { std::_Exit(abandoningLeavesNothing() ? 0 : 1); }

TEST(AbandonedWriteDeathTest, LeavesEveryTargetAsItWasAndNoTemporaryFile) {
  EXPECT_EXIT(abandonWhileWriting(), ::testing::ExitedWithCode(0), "");
}

TEST_F(FailingWriteTest, AMissingFolderFailsAndCreatesNothing) {
  const std::string target = dir.file("no such folder/keyed.tga");
  EXPECT_FALSE(save(target, source));
  EXPECT_EQ(saver.error(), SaveError::CannotCreateOutput);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "no such folder"));
  EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
  EXPECT_EQ(saveThroughProcessor(target), OneSaveFailedBox);
}

TEST_F(FailingWriteTest, ATargetThatIsAFolderIsLeftAsItIs) {
  const std::filesystem::path folder = dir.path() / "keyed.tga";
  std::filesystem::create_directory(folder);
  writeBytes((folder / "inside").string(), PreviousTarget);
  EXPECT_FALSE(save(folder.string(), source));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(readFileBytes(folder / "inside"), PreviousTarget);
  EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
}

// Whatever takes the target's place while the file is written is never
// moved or removed to make room: an empty folder is as much the user's as a
// full one.
TEST_F(FailingWriteTest, ATargetReplacedByAFolderWhileWritingIsLeftAsItIs) {
  for (const bool withContent : {false, true}) {
    const std::filesystem::path target = dir.path() / "keyed.tga";
    writeBytes(target.string(), PreviousTarget);
    ReplacingFile output(target.string());
    ASSERT_TRUE(output.open());
    output.write(PreviousTarget.data(), PreviousTarget.size());
    std::filesystem::remove(target);
    std::filesystem::create_directory(target);
    if (withContent) writeBytes((target / "inside").string(), PreviousTarget);
    EXPECT_FALSE(output.commit()) << (withContent ? "a folder with a file" : "an empty folder");
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
    std::filesystem::remove_all(target);
  }
}

// Permission bits do not stop root, which CI runs as; the immutable flag
// does, where the file system has one. Where neither protection holds, the
// case cannot be staged and is skipped.
class ReadOnlyFile {
public:
  explicit ReadOnlyFile(std::filesystem::path path) : path_(std::move(path)) {
#if defined(__linux__)
    if (geteuid() == 0) {
      immutable_ = setImmutable(true);
      return;
    }
#endif
    std::filesystem::permissions(path_, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                            std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }
  ~ReadOnlyFile() {
#if defined(__linux__)
    if (immutable_) setImmutable(false);
#endif
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_write, std::filesystem::perm_options::add,
                                 ignored);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Whether writing is really refused here.
  bool holds() const {
    std::FILE* file = std::fopen(path_.string().c_str(), "r+b");
    if (file == nullptr) return true;
    std::fclose(file);
    return false;
  }

private:
#if defined(__linux__)
  bool setImmutable(bool on) const {
    const int fd = ::open(path_.c_str(), O_RDONLY);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
  }
  bool immutable_ = false;
#endif
  std::filesystem::path path_;
};

TEST_F(FailingWriteTest, AReadOnlyTargetIsLeftAsItIs) {
  const std::string target = dir.file("keyed.tga");
  writeBytes(target, PreviousTarget);
  ReadOnlyFile readOnly(target);
  if (!readOnly.holds()) {
    GTEST_SKIP() << "cannot make a file read-only here: running as root (or under Wine as root), where "
                    "permission bits do not stop writes, and no immutable flag to use instead";
  }
  expectFailureKeeps(target, PreviousTarget, dir.path());
  EXPECT_EQ(saver.error(), SaveError::CannotCreateOutput);
  EXPECT_EQ(saveThroughProcessor(target), OneSaveFailedBox);
}

#if defined(__linux__)
// A 64 KiB RAM disk, mounted for the test and detached again.
class SmallDisk {
public:
  explicit SmallDisk(std::filesystem::path folder) : folder_(std::move(folder)) {
    std::filesystem::create_directory(folder_);
    if (::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0) {
      mounted_ = true;
    } else {
      why_ = std::strerror(errno);
    }
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  std::string file(const char* name) const { return (folder_ / name).string(); }

private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::string why_;
};

TEST_F(FailingWriteTest, AFullDiskFailsAndKeepsTheOldTarget) {
  SmallDisk disk(dir.path() / "small disk");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount rights): " << disk.why();
  const std::string target = disk.file("keyed.tga");
  writeBytes(target, PreviousTarget);
  expectFailureKeeps(target, PreviousTarget, dir.path() / "small disk");
  EXPECT_EQ(saver.error(), SaveError::WriteFailed);
  EXPECT_EQ(saveThroughProcessor(target), OneSaveFailedBox);

  // Saving onto the source's own path keeps the source: 30 KB of source
  // and 40 KB of output do not fit on the disk together.
  std::filesystem::remove(target);
  const std::string onDisk = TgaBytes(100, 100).pixels(std::vector<Pixel32>(10000, makePixel(1, 2, 3))).writeTo(
      disk.file("source on disk.tga"));
  const Bytes sourceBefore = readFileBytes(onDisk);
  EXPECT_FALSE(saver.save(onDisk.c_str(), onDisk.c_str(), GreenChannel, 0, 0));
  EXPECT_EQ(readFileBytes(onDisk), sourceBefore);
  EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
}

// The file-size limit makes every write past it fail (EFBIG), much as a full
// disk does, and needs no privileges. Child processes inherit it.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // fail the write instead of killing us
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit lowered = previous_;
    lowered.rlim_cur = bytes;
    applied_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool applied() const { return applied_; }

private:
  rlimit previous_{};
  void (*previousHandler_)(int) = SIG_DFL;
  bool applied_ = false;
};

TEST_F(FailingWriteTest, AWriteCutShortByTheFileSizeLimitFailsInEveryFrontEnd) {
  const std::string target = dir.file("keyed.tga");
  writeBytes(target, PreviousTarget);
  FileSizeLimit limit(16 * 1024);
  ASSERT_TRUE(limit.applied());
  expectFailureKeeps(target, PreviousTarget, dir.path());
  EXPECT_EQ(saver.error(), SaveError::WriteFailed);
  EXPECT_EQ(saveThroughProcessor(target), OneSaveFailedBox);

  // keyvale-cli: exit status 1, one line naming the output.
  const std::string errors = dir.file("stderr.txt");
  const std::string command = std::string("'") + KEYVALE_CLI_PATH + "' key '" + source + "' '" + target + "' 2>'" +
                              errors + "' >/dev/null";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
  std::ifstream in(errors);
  std::string line, more;
  std::getline(in, line);
  EXPECT_NE(line.find(target), std::string::npos) << line;
  EXPECT_FALSE(std::getline(in, more)) << more;
  EXPECT_EQ(readFileBytes(target), PreviousTarget);
  EXPECT_EQ(partialFilesUnder(dir.path()), std::vector<std::string>{});
}

// A device is never replaced: renaming a finished file onto /dev/full would
// destroy the device node (we run as root in CI).
TEST_F(FailingWriteTest, ADeviceTargetIsRefusedAndLeftADevice) {
  struct stat before {};
  if (::stat("/dev/full", &before) != 0) GTEST_SKIP() << "no /dev/full here";
  EXPECT_FALSE(save("/dev/full", source));
  EXPECT_EQ(saver.error(), SaveError::CannotCreateOutput);
  struct stat after {};
  ASSERT_EQ(::stat("/dev/full", &after), 0);
  EXPECT_TRUE(S_ISCHR(after.st_mode));
  EXPECT_EQ(after.st_ino, before.st_ino);
}
#endif

}  // namespace
}  // namespace Kvl
