// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/graphics.h>
#include <graphics/matrix4.h>
#include <graphics/vec2.h>
#include <graphics/vec4.h>

// Every value of the final composite, kept per video frame.
struct FinalPassParams {
	bool mosaic = false;
	gs_texture_t *image = nullptr;
	vec2 uv_min{}, uv_max{};
	vec2 cap_origin{}, cap_inv_size{};
	vec2 grid_origin{}, grid_dim{};
	float cell_size = 1.0f;
	vec2 pos_origin{}, pos_du{}, pos_dv{};
	float quad_width = 0.0f, quad_height = 0.0f;
	bool use_transform = false;
	matrix4 transform{};
	// With use_transform: replace the world matrix by the identity instead
	// of multiplying transform (an emergency cover over a board whose
	// matrix cannot be inverted, drawn where the canvas is the identity).
	bool reset_transform = false;
	bool shaped = false;
	gs_texture_t *orig = nullptr;
	vec2 orig_uv_min{}, orig_uv_max{};
	// The board's frame (canvas pixels) at the quad's uv: origin + du * u +
	// dv * v. On the board's quad du and dv run along its sides; on the
	// canvas quad (invert) they undo the board's place.
	vec2 local_origin{}, local_du{}, local_dv{};
	vec4 shape_rect{}; // in that frame
	float shape_kind = 0.0f; // 0 rectangle, 1 ellipse, 2 rounded rectangle
	float feather = 0.0f;
	// Drawn for a source (a filter): blended as the host blends that
	// source, so its transparent parts stay transparent.
	bool blend_as_source = false;
	float corner_radius = 0.0f; // rounded: at most half the shape's smaller side
	bool invert = false; // hides all but the shape
	// A failure that does not know the canvas's place hatches the whole
	// target: an inverted board hides beyond its own quad.
	bool fails_over_target = false;
	// Cover mode: image is the cover image or null, no capture is read.
	bool cover = false;
	vec4 cover_color{}; // linear, opaque
	float cover_alpha = 0.0f; // the fade level
};

// With use_transform, pushes the world matrix and puts the quad over the
// whole canvas; the caller pops it (gs_matrix_pop) when this returns true.
bool push_canvas_transform(const FinalPassParams &params);

// Sets the board quad's place and its shape on the board effect.
void set_quad_and_shape(const FinalPassParams &params);

// The quad with the board effect's technique, in linear light, placed by
// the params' transform; the caller sets the blending.
void draw_composite_quad(const FinalPassParams &params, const char *technique);

// Draws the composite over the board's quad (or the whole canvas).
void draw_final_composite(const FinalPassParams &params);
