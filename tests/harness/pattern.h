// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

inline constexpr const char *kPatternTypeId = "mistpane_test_pattern";

// The pattern's pixels as RGBA8, also for comparing against the output.
// The rows of a 5x7 pixel glyph (bit 4 leftmost), letters upper case; null
// for a character the font lacks (space among them).
const uint8_t *glyph_rows(char c);

std::vector<uint8_t> pattern_pixels(const char *kind, uint32_t width, uint32_t height, int cell, uint32_t color);

// The pattern of kind "labels": lines "x y TEXT" of its "labels" setting,
// each TEXT (no spaces) in the small text's font (letters 8 x 11, 10 pixels
// apart) from (x, y), light on dark.
std::vector<uint8_t> label_pixels(uint32_t width, uint32_t height, const char *list);

// Deterministic hash noise: the "detail" picture, the sample text's lines,
// the attack's candidates.
uint32_t noise_hash(uint32_t x);

} // namespace harness
