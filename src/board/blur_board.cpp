// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/blur_board.h"

#include <obs-module.h>

#include <cstring>
#include <new>

#include "board/hotkeys.h"
#include "board/settings.h"
#include "host/host_refs.h"
#include "host/log.h"

BlurBoard *board_create(obs_data_t *settings, obs_source_t *source)
{
	auto *board = new (std::nothrow) BlurBoard();
	if (!board)
		return nullptr;
	board->source = source;
	board_update(board, settings);
	register_board_hotkeys(board);
	return board;
}

void board_destroy(BlurBoard *board)
{
	unregister_board_hotkeys(board);
	release_placement(board->placement);
	delete board;
}

void board_update(void *data, obs_data_t *settings)
{
	auto *board = static_cast<BlurBoard *>(data);
	namespace d = setting_defaults;
	namespace k = setting_keys;
	CoverImageChange image = reload_cover_image(settings, board->mutex, board->cover, "board", board->source);
	const Hiding hiding = read_hiding(settings);

	std::lock_guard<std::mutex> lock(board->mutex);
	board->is_mosaic = hiding.is_mosaic;
	board->is_cover = hiding.is_cover;
	board->blur_radius = hiding.blur_radius;
	board->mosaic_size = hiding.mosaic_size;
	board->strength = hiding.strength;
	board->fade_seconds = hiding.fade_seconds;
	board->shape = hiding.shape;
	board->cover_color = hiding.cover_color;
	board->emergency_size =
	    clamp_float((float)read_number(settings, k::kEmergencySize, d::emergency_size), 0.5f, 50.0f);
	board->emergency = read_bool(settings, k::kEmergency, d::emergency);
	board->force_redraw = read_bool(settings, k::kForceRedraw, false);
	// The old image is freed when the last draw that holds it ends.
	if (image.changed)
		std::swap(board->cover, image.slot);
	board->width.store(clamp_size(read_integer(settings, k::kWidth, d::width)));
	board->height.store(clamp_size(read_integer(settings, k::kHeight, d::height)));

	board->enabled.store(hiding.enabled);
	board->emergency_applied.store(board->emergency);

	// A new board, or one loaded from a saved collection, starts at its
	// target instead of fading in.
	if (board->first_update) {
		board->fade_level = hiding.enabled ? board->strength : 0.0f;
		board->first_update = false;
	}
}

void board_get_defaults(obs_data_t *settings)
{
	namespace d = setting_defaults;
	namespace k = setting_keys;
	set_typed_default(settings, k::kMode, d::mode);
	set_typed_default(settings, k::kBlurRadius, d::blur_radius);
	set_typed_default(settings, k::kMosaicSize, d::mosaic_size);
	set_typed_default(settings, k::kStrength, d::strength);
	set_typed_default(settings, k::kEnabled, d::enabled);
	set_typed_default(settings, k::kFadeSeconds, d::fade_seconds);
	set_typed_default(settings, k::kWidth, d::width);
	set_typed_default(settings, k::kHeight, d::height);
	set_typed_default(settings, k::kEmergency, d::emergency);
	set_typed_default(settings, k::kEmergencySize, d::emergency_size);
	set_shape_defaults(settings);
	set_typed_default(settings, k::kCoverColor, d::cover_color);
	set_typed_default(settings, k::kCoverImage, d::cover_image);
	// Hidden and without a default, but read as a boolean all the same.
	drop_mistyped_value(settings, k::kForceRedraw, OBS_DATA_BOOLEAN);
}

uint32_t board_get_width(void *data)
{
	return static_cast<BlurBoard *>(data)->width.load();
}

uint32_t board_get_height(void *data)
{
	return static_cast<BlurBoard *>(data)->height.load();
}

gs_color_space board_get_color_space(void *, size_t count, const gs_color_space *preferred_spaces)
{
	return count ? preferred_spaces[0] : GS_CS_SRGB;
}
