#pragma once
// Which part of a picture is the backdrop: its key channel and its hue.
//
// A backdrop is not simply most of the picture. A close-up of a warm, pale
// subject (a face, a plush toy, blonde hair) fills half the frame or more,
// and by sheer area its red would outvote a lime or blue wall. What marks a
// backdrop is what it is built to be: one hue, saturated, smooth (cloth or
// paint, not the texture of fur or a face), and the region that reaches the
// picture's border, where a subject seldom does all round. Every region of
// one hue the survey's cells show is weighed by those marks, and the best
// is the backdrop; where none is saturated enough to be one, there is none.

#include <optional>
#include <string>

#include "PlateCells.h"

namespace Kvl::PlateFit {

struct BackdropHue {
  KeyChannel channel = GreenChannel;
  Colour chromaticity{};  // red, green and blue over their sum
};

// The backdrop's channel and hue. `channel` limits the choice to backdrops
// keyed on it; `screen` names the backdrop's colour (the hue of the cells
// nearest it is taken, so that a colour picked from one pixel of the plate
// does not carry that pixel's noise). Nothing, with the reason in
// `refusal`, when the picture shows no backdrop.
std::optional<BackdropHue> findBackdropHue(const CellStats& stats, std::optional<KeyChannel> channel,
                                           std::optional<Pixel32> screen, std::string& refusal);

// How saturated a colour is, (largest - smallest) / largest: what a
// backdrop's cells must have at least on average, less where they are
// darker than 96 levels (MinimumScreenSaturation).
float saturationOf(const Colour& colour);
inline constexpr float MinimumScreenSaturation = 0.3f;

}  // namespace Kvl::PlateFit
