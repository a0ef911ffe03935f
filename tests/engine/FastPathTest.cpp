// The vectorised key, levels and blend against the plain arithmetic:
// exhaustively where the domain is small, on random data elsewhere.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "keying/Key.h"
#include "engine/KeyProcessor.h"
#include "support/ReferenceKey.h"
#include "support/Sanitizers.h"

namespace Kvl {
namespace {

using Test::referenceBlend;
using Test::referenceKey;
using Test::referenceKeyAndLevel;
using Test::referenceLevel;
using Test::referenceRender;

// Sanitizer builds run the exhaustive loops several times slower; there
// every 7th colour still covers every value of every component.
constexpr Pixel32 ColourStep = KEYVALE_ADDRESS_SANITIZER ? 7 : 1;

constexpr KeyChannel Channels[] = {RedChannel, GreenChannel, BlueChannel};

// The run key, which every keying goes through, against the literal
// arithmetic for every colour of every channel.
TEST(KeyPixels, EqualsTheArithmeticForEveryColourOfEveryChannel) {
  constexpr Pixel32 Batch = 1 << 16;
  std::vector<Pixel32> colours(Batch), keyed(Batch);
  for (const KeyChannel channel : Channels) {
    int mismatches = 0;
    for (Pixel32 first = 0; first < (1u << 24) && mismatches < 5; first += Batch * ColourStep) {
      for (Pixel32 i = 0; i < Batch; ++i) colours[i] = (first + i * ColourStep) & 0x00FFFFFFu;
      keyPixels(colours.data(), keyed.data(), Batch, channel);
      for (Pixel32 i = 0; i < Batch; ++i) {
        const Pixel32 expected = referenceKey(colours[i], channel);
        if (keyed[i] != expected && ++mismatches <= 5) {
          ADD_FAILURE() << std::hex << "channel " << channel << " colour " << colours[i] << ": got "
                        << keyed[i] << ", expected " << expected;
        }
      }
    }
  }
}

TEST(KeyPixels, KeysInPlaceAndAddsToAnAlphaAlreadyThere) {
  std::mt19937 rng(7);
  std::vector<Pixel32> pixels(5001);  // not a multiple of any vector width
  for (Pixel32& pixel : pixels) pixel = rng();
  for (const KeyChannel channel : Channels) {
    std::vector<Pixel32> inPlace = pixels;
    keyPixels(inPlace.data(), inPlace.data(), inPlace.size(), channel);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      ASSERT_EQ(inPlace[i], referenceKey(pixels[i], channel)) << std::hex << "pixel " << pixels[i];
    }
  }
}

TEST(LevelPixels, EqualsTheLevelsCurveForEveryAlphaContrastAndOffset) {
  std::vector<Pixel32> alphas(256);
  for (Pixel32 alpha = 0; alpha < 256; ++alpha) alphas[alpha] = alpha << 24 | 0x00A0B0C0u;
  for (int contrast = 0; contrast < 256; ++contrast) {
    for (int offset = 0; offset < 256; ++offset) {
      const auto c = static_cast<std::uint8_t>(contrast), o = static_cast<std::uint8_t>(offset);
      std::vector<Pixel32> levelled = alphas;
      levelPixels(levelled.data(), levelled.size(), levelTable(c, o));
      for (std::size_t alpha = 0; alpha < 256; ++alpha) {
        const Pixel32 expected = (alphas[alpha] & 0x00FFFFFFu) | Pixel32{referenceLevel(alpha, c, o)} << 24;
        ASSERT_EQ(levelled[alpha], expected) << "A " << alpha << " C " << contrast << " O " << offset;
      }
    }
  }
}

TEST(KeyAndLevel, BothFormsEqualTheKeyThenTheLevelsOnRandomPixelsAndSettings) {
  std::mt19937 rng(11);
  for (int round = 0; round < 24; ++round) {
    const std::size_t count = round == 0 ? 0 : 1 + rng() % 9000;  // across the block size too
    const auto channel = static_cast<KeyChannel>(rng() % 3);
    // Every fourth round at Contrast 0 / Offset 0, where the levels change nothing.
    const auto contrast = static_cast<std::uint8_t>(round % 4 == 0 ? 0 : rng());
    const auto offset = static_cast<std::uint8_t>(round % 4 == 0 ? 0 : rng());
    std::vector<Pixel32> pixels(count);
    for (Pixel32& pixel : pixels) pixel = rng() & 0x00FFFFFFu;
    std::vector<Pixel32> inPlace = pixels, separate(count);
    keyAndLevel(inPlace.data(), count, channel, levelTable(contrast, offset));
    keyAndLevel(pixels.data(), separate.data(), count, channel, levelTable(contrast, offset));
    for (std::size_t i = 0; i < count; ++i) {
      const Pixel32 expected = referenceKeyAndLevel(pixels[i], channel, contrast, offset);
      ASSERT_EQ(inPlace[i], expected) << "pixel " << i << " channel " << channel << " C " << int{contrast}
                                      << " O " << int{offset};
      ASSERT_EQ(separate[i], expected) << "pixel " << i;
    }
  }
}

// Every colour value under every alpha over every grey; the three
// components differ so that a swap would show.
TEST(BlendOverCheckerboard, EqualsTheDivisionBy255ForEveryColourAlphaAndGrey) {
  std::vector<Pixel32> composite(256), matte(256);
  std::vector<std::uint8_t> grey(256);
  for (unsigned alpha = 0; alpha < 256; ++alpha) {
    for (unsigned k = 0; k < 256; ++k) {
      for (unsigned c = 0; c < 256; ++c) {
        composite[c] = makePixel(static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(255 - c),
                                 static_cast<std::uint8_t>(c * 7), static_cast<std::uint8_t>(alpha));
        grey[c] = static_cast<std::uint8_t>(k);
      }
      const std::vector<Pixel32> before = composite;
      blendOverCheckerboard(composite.data(), matte.data(), grey.data(), 256);
      for (unsigned c = 0; c < 256; ++c) {
        const Pixel32 expected = makePixel(
            static_cast<std::uint8_t>(referenceBlend(redOf(before[c]), alpha, k)),
            static_cast<std::uint8_t>(referenceBlend(greenOf(before[c]), alpha, k)),
            static_cast<std::uint8_t>(referenceBlend(blueOf(before[c]), alpha, k)), static_cast<std::uint8_t>(alpha));
        if (composite[c] != expected || matte[c] != alpha * 65793u) {
          FAIL() << std::hex << "c " << c << " alpha " << alpha << " grey " << k << ": composite "
                 << composite[c] << " expected " << expected << ", matte " << matte[c];
        }
      }
    }
  }
}

// A processor over buffers of its own, with the reference render beside it.
struct RenderPair {
  std::vector<std::uint8_t> checkerboard = std::vector<std::uint8_t>(PreviewPixelCount);
  std::vector<Pixel32> source = std::vector<Pixel32>(PreviewPixelCount);
  std::vector<Pixel32> composite = std::vector<Pixel32>(PreviewPixelCount, 0xDEADBEEFu);
  std::vector<Pixel32> matte = std::vector<Pixel32>(PreviewPixelCount, 0xDEADBEEFu);
  KeyProcessor processor{checkerboard.data(), source.data(), composite.data(), matte.data(), nullptr};

  void expectRenderEqualsReference(KeyChannel channel, std::uint8_t contrast, std::uint8_t offset) {
    std::vector<Pixel32> expectedComposite(PreviewPixelCount), expectedMatte(PreviewPixelCount);
    referenceRender(source.data(), checkerboard.data(), expectedComposite.data(), expectedMatte.data(), channel,
                    contrast, offset);
    processor.render(channel, contrast, offset);
    for (int i = 0; i < PreviewPixelCount; ++i) {
      ASSERT_EQ(composite[static_cast<std::size_t>(i)], expectedComposite[static_cast<std::size_t>(i)])
          << std::hex << "column " << std::dec << i % PreviewWidth << " row " << i / PreviewWidth
          << " channel " << channel << " C " << int{contrast} << " O " << int{offset};
      ASSERT_EQ(matte[static_cast<std::size_t>(i)], expectedMatte[static_cast<std::size_t>(i)]) << "index " << i;
    }
  }
};

TEST(Render, EqualsTheTwoPassArithmeticOnRandomPreviewsSettingsAndCheckerboards) {
  std::mt19937 rng(5);
  RenderPair pair;
  for (int round = 0; round < 30; ++round) {
    for (Pixel32& pixel : pair.source) pixel = rng() & 0x00FFFFFFu;
    if (round % 2 == 0) {
      for (std::uint8_t& grey : pair.checkerboard) grey = static_cast<std::uint8_t>(rng());
    } else {  // the real pattern, scrolled some way
      KeyProcessor::fillCheckerboard(pair.checkerboard.data());
      for (int scroll = round % 24; scroll > 0; --scroll) KeyProcessor::scrollCheckerboard(pair.checkerboard.data());
    }
    const auto contrast = static_cast<std::uint8_t>(round < 3 ? round * 127 : static_cast<int>(rng() % 256));
    const auto offset = static_cast<std::uint8_t>(round < 3 ? round * 127 : static_cast<int>(rng() % 256));
    pair.expectRenderEqualsReference(static_cast<KeyChannel>(round % 3), contrast, offset);
  }
}

TEST(Render, EqualsTheArithmeticOnAGreenScreenWithSoftEdges) {
  // Mostly backdrop and solid subject, with every alpha in between: the
  // picture a render usually sees.
  RenderPair pair;
  KeyProcessor::fillCheckerboard(pair.checkerboard.data());
  for (int i = 0; i < PreviewPixelCount; ++i) {
    const int column = i % PreviewWidth;
    const auto mix = static_cast<std::uint8_t>(std::clamp(column - 8, 0, 255));
    pair.source[static_cast<std::size_t>(i)] = makePixel(mix, static_cast<std::uint8_t>(255 - mix / 2), 40);
  }
  for (const KeyChannel channel : Channels) pair.expectRenderEqualsReference(channel, 40, 20);
}

}  // namespace
}  // namespace Kvl
