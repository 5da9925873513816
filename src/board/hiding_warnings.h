// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// When a board's settings hide less than a viewer who records the stream
// can undo: the figures behind the warnings in its properties.

#include <string>

// What the blur and the mosaic really use once the strength has acted on
// them (by its square, as the fade does).
float effective_blur_radius(float blur_radius, float strength_percent);
float effective_mosaic_cell(float mosaic_size, float strength_percent);

// Below a radius of 20 px, 11-pixel text blurred with a known sigma and sent
// in 8 bits is sharpened back by deconvolution; below 8 px cells, such
// text moving under the mosaic comes back over the frames, and one frame
// already shows its strokes.
inline constexpr float kSafeBlurRadius = 20.0f;
inline constexpr float kSafeMosaicCell = 8.0f;

// The radius or size that reaches the safe one at this strength.
float blur_radius_needed(float strength_percent);
float mosaic_size_needed(float strength_percent);

// The locale text with "{used}" and "{needed}" replaced by the figures
// (one decimal, none when whole; the needed one rounded up).
std::string fill_warning(const char *text, float used, float needed);
