// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>
#include <graphics/graphics.h>

#include <cstdint>

struct BlurBoard;
struct BeneathItem;

struct DrawTechnique {
	const char *name;
	float multiplier;
};

// The host's draw technique and multiplier between two colour spaces.
DrawTechnique select_draw_technique(gs_color_space target_space, gs_color_space source_space, bool upscale);

// How an item drawn through its scratch texture is sampled, by its scale
// filter and its signed scale.
struct ItemFilter {
	obs_base_effect effect = OBS_EFFECT_DEFAULT;
	bool point_sampler = false; // the board's point sampler on "image"
	bool base_dimensions = false; // "base_dimension" and "base_dimension_i" from the texture
	bool upscale = false; // the upscale form of the technique
};
ItemFilter select_item_filter(obs_scale_type filter, float sx, float sy);

// Blend state of each blending mode, in the host's order of modes.
struct BlendRow {
	uint32_t src_color;
	uint32_t src_alpha;
	uint32_t dst_color;
	uint32_t dst_alpha;
	uint32_t op;
};
inline constexpr int kBlendModes = 7;
extern const BlendRow kBlendRows[kBlendModes];
// The row of a mode; modes outside the table are clamped into it.
const BlendRow &blend_row(int mode);

// Draws one item beneath into the current render target, under the current
// projection, directly or through one of the board's scratch renders.
void draw_beneath_item(BlurBoard *board, const BeneathItem &record);
