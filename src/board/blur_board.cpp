#include "board/blur_board.h"

#include <obs-module.h>

#include <cstring>
#include <new>

#include "board/hotkeys.h"
#include "board/settings.h"

void *board_create(obs_data_t *settings, obs_source_t *source)
{
	auto *board = new (std::nothrow) BlurBoard();
	if (!board)
		return nullptr;
	board->source = source;
	board_update(board, settings);
	register_board_hotkeys(board);
	return board;
}

void board_destroy(void *data)
{
	auto *board = static_cast<BlurBoard *>(data);
	if (!board)
		return;
	unregister_board_hotkeys(board);

	obs_enter_graphics();
	destroy_slots(board->pool, 0, kPoolSlots - 1);
	obs_leave_graphics();

	release_placement(board->placement);
	delete board;
}

void board_update(void *data, obs_data_t *settings)
{
	auto *board = static_cast<BlurBoard *>(data);
	std::lock_guard<std::mutex> lock(board->mutex);

	namespace d = setting_defaults;
	const char *mode = read_string(settings, "mode", d::mode);
	board->is_mosaic = std::strcmp(mode, "mosaic") == 0;
	board->blur_radius = clamp_float((float)read_number(settings, "blur_radius", d::blur_radius), 0.0f, 500.0f);
	board->mosaic_size = clamp_float((float)read_number(settings, "mosaic_size", d::mosaic_size), 1.0f, 500.0f);
	board->strength = clamp_float((float)(read_number(settings, "strength", d::strength) / 100.0), 0.0f, 1.0f);
	board->fade_seconds = clamp_float((float)read_number(settings, "fade_seconds", d::fade_seconds), 0.0f, 60.0f);
	board->emergency_size =
	    clamp_float((float)read_number(settings, "emergency_size", d::emergency_size), 0.5f, 50.0f);
	board->emergency = read_bool(settings, "emergency", d::emergency);
	board->force_redraw = read_bool(settings, "force_redraw", false);
	const char *shape = read_string(settings, "shape", d::shape);
	board->is_ellipse = std::strcmp(shape, "ellipse") == 0;
	board->feather = clamp_float((float)read_number(settings, "feather", d::feather), 0.0f, 1000.0f);
	board->width.store(clamp_size(read_integer(settings, "width", d::width)));
	board->height.store(clamp_size(read_integer(settings, "height", d::height)));

	const bool enabled = read_bool(settings, "enabled", d::enabled);
	board->enabled.store(enabled);
	board->emergency_mirror.store(board->emergency);

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
	static const struct {
		const char *key;
		obs_data_type type;
	} typed[] = {
	    {"mode", OBS_DATA_STRING},           {"blur_radius", OBS_DATA_NUMBER}, {"mosaic_size", OBS_DATA_NUMBER},
	    {"strength", OBS_DATA_NUMBER},       {"enabled", OBS_DATA_BOOLEAN},    {"fade_seconds", OBS_DATA_NUMBER},
	    {"width", OBS_DATA_NUMBER},          {"height", OBS_DATA_NUMBER},      {"emergency", OBS_DATA_BOOLEAN},
	    {"emergency_size", OBS_DATA_NUMBER}, {"shape", OBS_DATA_STRING},       {"feather", OBS_DATA_NUMBER},
	    {"force_redraw", OBS_DATA_BOOLEAN}};
	for (const auto &entry : typed)
		drop_mistyped_value(settings, entry.key, entry.type);
	obs_data_set_default_string(settings, "mode", d::mode);
	obs_data_set_default_double(settings, "blur_radius", d::blur_radius);
	obs_data_set_default_double(settings, "mosaic_size", d::mosaic_size);
	obs_data_set_default_double(settings, "strength", d::strength);
	obs_data_set_default_bool(settings, "enabled", d::enabled);
	obs_data_set_default_double(settings, "fade_seconds", d::fade_seconds);
	obs_data_set_default_int(settings, "width", d::width);
	obs_data_set_default_int(settings, "height", d::height);
	obs_data_set_default_bool(settings, "emergency", d::emergency);
	obs_data_set_default_double(settings, "emergency_size", d::emergency_size);
	obs_data_set_default_string(settings, "shape", d::shape);
	obs_data_set_default_double(settings, "feather", d::feather);
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
