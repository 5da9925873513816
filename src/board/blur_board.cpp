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

namespace {

// The image of the path given, decoded outside the board's lock (the draw
// takes that lock) and only when the path changed, so that an update of
// any other setting does not read the file again. Says once per path when
// it cannot be read.
bool load_cover_image(BlurBoard *board, const std::string &path, std::shared_ptr<const CoverImage> &image)
{
	{
		std::lock_guard<std::mutex> lock(board->mutex);
		if (path == board->cover_image_path)
			return false;
	}
	image = CoverImage::load(path.c_str());
	if (!image && !path.empty()) {
		const char *name = obs_source_get_name(board->source);
		log_message(LOG_WARNING, "board '%s': cover image '%s' cannot be read; covering with the colour",
			    name ? name : "", path.c_str());
	}
	return true;
}

} // namespace

void board_update(void *data, obs_data_t *settings)
{
	auto *board = static_cast<BlurBoard *>(data);
	namespace d = setting_defaults;
	namespace k = setting_keys;
	const std::string image_path = read_string(settings, k::kCoverImage, d::cover_image);
	std::shared_ptr<const CoverImage> image;
	const bool new_image = load_cover_image(board, image_path, image);

	std::lock_guard<std::mutex> lock(board->mutex);
	const char *mode = read_string(settings, k::kMode, d::mode);
	board->is_mosaic = std::strcmp(mode, setting_values::kModeMosaic) == 0;
	board->is_cover = std::strcmp(mode, setting_values::kModeCover) == 0;
	board->blur_radius = clamp_float((float)read_number(settings, k::kBlurRadius, d::blur_radius), 0.0f, 500.0f);
	board->mosaic_size = clamp_float((float)read_number(settings, k::kMosaicSize, d::mosaic_size), 1.0f, 500.0f);
	// A cover is opaque once faded in: its strength is always full.
	board->strength =
	    board->is_cover
		? 1.0f
		: clamp_float((float)(read_number(settings, k::kStrength, d::strength) / 100.0), 0.0f, 1.0f);
	board->fade_seconds = clamp_float((float)read_number(settings, k::kFadeSeconds, d::fade_seconds), 0.0f, 60.0f);
	board->emergency_size =
	    clamp_float((float)read_number(settings, k::kEmergencySize, d::emergency_size), 0.5f, 50.0f);
	board->emergency = read_bool(settings, k::kEmergency, d::emergency);
	board->force_redraw = read_bool(settings, k::kForceRedraw, false);
	board->shape = read_shape(settings);
	// The low 32 bits: some programs store the colour as a signed number.
	board->cover_color = (uint32_t)((uint64_t)read_integer(settings, k::kCoverColor, d::cover_color) & 0xFFFFFFFFu);
	if (new_image) {
		board->cover_image_path = image_path;
		// The old image is freed when the last draw that holds it ends.
		board->cover_image.swap(image);
	}
	board->width.store(clamp_size(read_integer(settings, k::kWidth, d::width)));
	board->height.store(clamp_size(read_integer(settings, k::kHeight, d::height)));

	const bool enabled = read_bool(settings, k::kEnabled, d::enabled);
	board->enabled.store(enabled);
	board->emergency_applied.store(board->emergency);

	// A new board, or one loaded from a saved collection, starts at its
	// target instead of fading in.
	if (board->first_update) {
		board->fade_level = enabled ? board->strength : 0.0f;
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
