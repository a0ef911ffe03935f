// Files a user was sent may hold any bytes. The reader must refuse or load
// them without reading or writing outside its buffers, and a header must not
// make it allocate (or the writer write) gigabytes for pixels the file does
// not hold.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"
#include "support/TgaBytes.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define KVL_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVL_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

namespace Kvl {
namespace {

using Test::readFileBytes;
using Test::TempDir;
using Test::TgaBytes;
using Bytes = std::vector<std::uint8_t>;

constexpr Pixel32 Skin = makePixel(210, 150, 120);
constexpr Pixel32 Backdrop = makePixel(40, 220, 60);

// Loads from memory and checks the reader's promise either way: a load
// holds exactly the declared picture with every alpha 0; a refusal says why
// and holds no pixels.
bool loadChecked(const Bytes& bytes, TgaLoader& loader) {
  MemoryByteSource source(bytes);
  const bool loaded = loader.loadFrom(source);
  if (!loaded) {
    EXPECT_NE(loader.error(), LoadError::None);
    EXPECT_FALSE(loader.pixels);
    return false;
  }
  EXPECT_EQ(loader.width, loader.header().width);
  EXPECT_EQ(loader.height, loader.header().height);
  const std::size_t count = std::size_t{loader.header().width} * loader.header().height;
  EXPECT_TRUE(loader.pixels);
  if (!loader.pixels) return true;
  for (std::size_t i = 0; i < count; ++i) {
    if (alphaOf(loader.pixels[i]) != 0) {
      ADD_FAILURE() << "pixel " << i << " has alpha " << int{alphaOf(loader.pixels[i])};
      break;
    }
  }
  return true;
}

LoadError loadError(const Bytes& bytes) {
  TgaLoader loader;
  loadChecked(bytes, loader);
  return loader.error();
}

Bytes withoutLastByte(Bytes bytes) {
  bytes.pop_back();
  return bytes;
}

// 2049 x 2048 at 24 bits: just over the size that always loads. Its
// smallest encodings are 12,589,056 bytes uncompressed and 32,784 full run
// packets (131,136 bytes); a sixteenth of each must be present.
constexpr std::uint16_t JustLargeWidth = 2049;
constexpr std::uint16_t JustLargeHeight = 2048;
constexpr std::size_t JustLargeRawShare = 786816;  // 262,272 pixels
constexpr std::size_t JustLargeRunPackets = 2049;  // 8,196 bytes

Bytes justLargeRaw(std::size_t pixelBytes) {
  Bytes bytes = TgaBytes(JustLargeWidth, JustLargeHeight).pixels(std::vector<Pixel32>(pixelBytes / 3 + 1, Skin)).bytes();
  bytes.resize(TgaHeaderSize + pixelBytes);
  return bytes;
}

Bytes justLargeRunLength(std::size_t packets) {
  TgaBytes tga(JustLargeWidth, JustLargeHeight);
  tga.rle();
  for (std::size_t i = 0; i < packets; ++i) tga.runPacket(128, i % 2 == 0 ? Skin : Backdrop);
  return tga.bytes();
}

TEST(DeclaredSize, AHugeHeaderOverAFewBytesIsRefusedBeforeAnyAllocation) {
  for (const Bytes& bytes : {TgaBytes(65535, 65535).pixels({Skin}).bytes(),
                             TgaBytes(65535, 65535, 32).rle().runPacket(128, Skin).bytes(),
                             TgaBytes(20000, 20000).bytes()}) {
    TgaLoader loader;
    EXPECT_FALSE(loadChecked(bytes, loader));
    EXPECT_EQ(loader.error(), LoadError::TooLittleData);
    EXPECT_EQ(loader.width, loader.header().width);  // for the message
  }
  const TgaHeader header = parseTgaHeader(TgaBytes(65535, 65535).bytes().data(), TgaHeaderSize);
  EXPECT_EQ(describe(targaError(LoadError::TooLittleData, header)),
            "file holds far too little pixel data for its declared size (65535 x 65535)");
}

TEST(DeclaredSize, ALargePictureNeedsASixteenthOfItsSmallestEncoding) {
  TgaLoader raw;
  EXPECT_TRUE(loadChecked(justLargeRaw(JustLargeRawShare), raw));
  EXPECT_TRUE(raw.truncated());
  ASSERT_TRUE(raw.pixels);
  EXPECT_EQ(raw.pixels[0], Skin);
  EXPECT_EQ(raw.pixels[std::size_t{JustLargeWidth} * JustLargeHeight - 1], 0u);
  EXPECT_EQ(loadError(justLargeRaw(JustLargeRawShare - 1)), LoadError::TooLittleData);

  TgaLoader packets;
  EXPECT_TRUE(loadChecked(justLargeRunLength(JustLargeRunPackets), packets));
  EXPECT_TRUE(packets.truncated());
  EXPECT_EQ(loadError(withoutLastByte(justLargeRunLength(JustLargeRunPackets))), LoadError::TooLittleData);
}

TEST(DeclaredSize, PicturesUpTo16MiBLoadHoweverShortTheirFile) {
  TgaLoader square;
  EXPECT_TRUE(loadChecked(TgaBytes(2048, 2048).bytes(), square));  // 16 MiB decoded, no pixel bytes
  EXPECT_TRUE(square.truncated());
  EXPECT_EQ(loadError(TgaBytes(2048, 2049).bytes()), LoadError::TooLittleData);
}

TEST(DeclaredSize, TheImageIdAndColourMapDoNotCountAsPixelData) {
  // 65535 map entries of 32 bits: 262,140 bytes that are not pixels.
  const Bytes mapOnly = TgaBytes(4096, 4096).id(Bytes(255, 1)).colourMap(65535, 32).bytes();
  EXPECT_EQ(loadError(mapOnly), LoadError::TooLittleData);
}

TEST(DeclaredSize, TheShareIsCheckedOnFilesWithoutReadingThem) {
  TempDir dir;
  const auto write = [&](const Bytes& bytes, const char* name) {
    std::ofstream(dir.path() / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return dir.file(name);
  };
  TgaLoader enough;
  EXPECT_TRUE(enough.load(write(justLargeRaw(JustLargeRawShare), "enough.tga").c_str()));
  ASSERT_TRUE(enough.pixels);
  EXPECT_EQ(enough.pixels[JustLargeRawShare / 3 - 1], Skin);  // the probe left the position alone
  TgaLoader tooLittle;
  EXPECT_FALSE(tooLittle.load(write(justLargeRaw(JustLargeRawShare - 1), "short.tga").c_str()));
  EXPECT_EQ(tooLittle.error(), LoadError::TooLittleData);
}

TEST(DeclaredSize, TheWriterRefusesWhatTheReaderRefusesAndWritesNothing) {
  TempDir dir;
  const std::string source = TgaBytes(65535, 65535).pixels({Skin}).writeTo(dir.path() / "huge.tga");
  const std::string output = dir.file("keyed.tga");
  TgaSaver saver;
  EXPECT_FALSE(saver.save(output.c_str(), source.c_str(), GreenChannel, 0, 0));
  EXPECT_EQ(saver.error(), SaveError::SourceUnreadable);
  EXPECT_EQ(saver.sourceError(), LoadError::TooLittleData);
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST(SizeArithmetic, SmallestEncodingsOfTheLargestHeadersFitIn64Bits) {
  TgaHeader header;
  header.width = 65535;
  header.height = 65535;
  header.imageType = TgaTypeTrueColour;
  header.bitsPerPixel = 32;
  EXPECT_EQ(smallestPixelDataBytes(header), 17179344900u);
  EXPECT_EQ(requiredPixelDataBytes(header), 1073709057u);  // rounded up
  header.imageType = TgaTypeTrueColourRle;
  EXPECT_EQ(smallestPixelDataBytes(header), 33553409u * 5u);
  header.bitsPerPixel = 24;
  EXPECT_EQ(smallestPixelDataBytes(header), 33553409u * 4u);
}

// The 32-bit Windows build can index at most 2 GiB: 536,870,911 pixels.
TEST(SizeArithmetic, A32BitBuildRefusesPixelArraysBeyondTwoGiB) {
  constexpr std::uint64_t Largest32BitObject = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(addressablePixelCount(16384, 32767, Largest32BitObject), 536854528u);
  EXPECT_EQ(addressablePixelCount(16384, 32768, Largest32BitObject), 0u);  // exactly 2 GiB
  EXPECT_EQ(addressablePixelCount(65535, 65535, Largest32BitObject), 0u);
  EXPECT_EQ(addressablePixelCount(0, 65535, Largest32BitObject), 0u);
  EXPECT_EQ(addressablePixelCount(1, 1, Largest32BitObject), 1u);
  // Widths and heights from other formats reach 2^32 - 1; the product is
  // never formed where it would not fit.
  constexpr std::uint64_t Largest64BitObject = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(addressablePixelCount(0xFFFFFFFFu, 0xFFFFFFFFu, Largest64BitObject), 0u);
  EXPECT_EQ(addressablePixelCount(std::uint64_t{1} << 40, std::uint64_t{1} << 40, Largest64BitObject), 0u);
  EXPECT_EQ(addressablePixelCount(65535, 65535, Largest64BitObject), 4294836225u);
}

TEST(SizeArithmetic, ThisBuildHoldsEveryTargaSizeWhenItIs64Bit) {
  if (sizeof(void*) < 8) GTEST_SKIP() << "a 32-bit build";
  EXPECT_EQ(addressablePixelCount(65535, 65535), std::size_t{4294836225u});
}

// Every single-byte corruption and every truncation of two small files, one
// of each type with an image ID, a colour map and an unusual origin: each
// must load as declared or be refused with a reason.
TEST(CorruptFiles, EveryByteChangedAndEveryLengthLoadsOrIsRefusedCleanly) {
  const Bytes runLength = TgaBytes(4, 3).rle().id({7, 7}).colourMap(1, 24).descriptor(0x20)
                              .runPacket(3, Skin).rawPacket({Backdrop, Skin, Backdrop, Skin})
                              .runPacket(5, Backdrop).bytes();
  const Bytes raw = TgaBytes(3, 2, 32).descriptor(0x30).pixels({Skin, Backdrop, Skin, Backdrop, Skin, Backdrop}).bytes();
  int loads = 0;
  for (const Bytes& original : {runLength, raw}) {
    for (std::size_t at = 0; at < original.size(); ++at) {
      for (const int value : {0x00, 0x01, 0x7F, 0x80, 0xFF, original[at] ^ 0x55}) {
        Bytes changed = original;
        changed[at] = static_cast<std::uint8_t>(value);
        TgaLoader loader;
        loads += loadChecked(changed, loader) ? 1 : 0;
      }
    }
    for (std::size_t length = 0; length <= original.size(); ++length) {
      TgaLoader loader;
      loads += loadChecked(Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(length)), loader);
    }
  }
  EXPECT_GT(loads, 100);  // most corruptions still load
}

TEST(ByteSources, HoldsLooksAheadWithoutMoving) {
  const Bytes bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  TempDir dir;
  const std::string path = dir.file("ten bytes");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 10);
  MemoryByteSource memory(bytes);
  FileByteSource file(path.c_str());
  ASSERT_TRUE(file.isOpen());
  for (ByteSource* source : {static_cast<ByteSource*>(&memory), static_cast<ByteSource*>(&file)}) {
    std::uint8_t got[10] = {};
    ASSERT_EQ(source->read(got, 3), 3u);
    EXPECT_TRUE(source->holds(7));
    EXPECT_FALSE(source->holds(8));
    EXPECT_FALSE(source->holds(std::uint64_t{1} << 40));
    ASSERT_EQ(source->read(got, 10), 7u);  // still at byte 3, and not at the end
    EXPECT_EQ(got[0], 4);
    EXPECT_EQ(got[6], 10);
    EXPECT_TRUE(source->holds(0));
    EXPECT_FALSE(source->holds(1));
  }
}

TEST(ByteSources, AFolderDoesNotOpenAsAFile) {
  TempDir dir;
  FileByteSource folder(dir.path().string().c_str());
  EXPECT_FALSE(folder.isOpen());
  TgaLoader loader;
  EXPECT_FALSE(loader.load(dir.path().string().c_str()));
  EXPECT_EQ(loader.error(), LoadError::CannotOpen);  // not "too short"
}

#if defined(__linux__) && !defined(KVL_UNDER_ADDRESS_SANITIZER)
// In a child process whose address space is capped just above what it
// already uses, so the 64 MiB pixel array cannot be had: a refusal, never an
// exception or a crash. (AddressSanitizer reserves terabytes of address
// space up front, so it cannot run under such a cap.)
void loadUnderAddressCap(const Bytes& bytes) {
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  const auto inUse = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
  rlimit cap{};
  getrlimit(RLIMIT_AS, &cap);
  cap.rlim_cur = inUse + (rlim_t{32} << 20);
  if (setrlimit(RLIMIT_AS, &cap) != 0) std::_Exit(2);
  TgaLoader loader;
  MemoryByteSource source(bytes);
  const bool refused = !loader.loadFrom(source) && loader.error() == LoadError::OutOfMemory && !loader.pixels;
  std::_Exit(refused ? 0 : 1);
}

TEST(HostileInputDeathTest, AnAllocationThatFailsGivesOutOfMemory) {
  // 4096 x 4096 with an eighth of its pixels: plausible, 64 MiB decoded.
  const Bytes bytes = TgaBytes(4096, 4096).pixels(std::vector<Pixel32>(std::size_t{1} << 21, Skin)).bytes();
  EXPECT_EXIT(loadUnderAddressCap(bytes), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace Kvl
