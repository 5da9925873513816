#include "board/blur_board.h"

#include <obs-module.h>

#include <atomic>
#include <cstring>
#include <new>

#include "board/hotkeys.h"
#include "board/settings.h"
#include "module/host_refs.h"
#include "placement/registry.h"

namespace {
std::atomic<long> live_boards{0};
} // namespace

void *board_create(obs_data_t *settings, obs_source_t *source)
{
	auto *board = new (std::nothrow) BlurBoard();
	if (!board)
		return nullptr;
	board->source = source;
	board_update(board, settings);
	register_board_hotkeys(board);
	++live_boards;
	refs::board_created();
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

	// With no board left nothing asks the registry again: drop its scan so
	// that it holds no reference on scenes that no board is in.
	if (--live_boards == 0)
		placement_registry().clear();
	refs::board_destroyed();
}

void board_update(void *data, obs_data_t *settings)
{
	auto *board = static_cast<BlurBoard *>(data);
	std::lock_guard<std::mutex> lock(board->mutex);

	const char *mode = obs_data_get_string(settings, "mode");
	board->is_mosaic = mode && std::strcmp(mode, "mosaic") == 0;
	board->blur_radius = clamp_float((float)obs_data_get_double(settings, "blur_radius"), 0.0f, 500.0f);
	board->mosaic_size = clamp_float((float)obs_data_get_double(settings, "mosaic_size"), 1.0f, 500.0f);
	board->strength = clamp_float((float)obs_data_get_double(settings, "strength") / 100.0f, 0.0f, 1.0f);
	board->fade_seconds = clamp_float((float)obs_data_get_double(settings, "fade_seconds"), 0.0f, 60.0f);
	board->emergency_size = clamp_float((float)obs_data_get_double(settings, "emergency_size"), 0.5f, 50.0f);
	board->emergency = obs_data_get_bool(settings, "emergency");
	board->force_redraw = obs_data_get_bool(settings, "force_redraw");
	const char *shape = obs_data_get_string(settings, "shape");
	board->is_ellipse = shape && std::strcmp(shape, "ellipse") == 0;
	board->feather = clamp_float((float)obs_data_get_double(settings, "feather"), 0.0f, 1000.0f);
	board->width.store(clamp_size(obs_data_get_int(settings, "width")));
	board->height.store(clamp_size(obs_data_get_int(settings, "height")));

	const bool enabled = obs_data_get_bool(settings, "enabled");
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
	obs_data_set_default_string(settings, "mode", "blur");
	obs_data_set_default_double(settings, "blur_radius", 20.0);
	obs_data_set_default_double(settings, "mosaic_size", 24.0);
	obs_data_set_default_double(settings, "strength", 100.0);
	obs_data_set_default_bool(settings, "enabled", true);
	obs_data_set_default_double(settings, "fade_seconds", 0.5);
	obs_data_set_default_int(settings, "width", 640);
	obs_data_set_default_int(settings, "height", 360);
	obs_data_set_default_bool(settings, "emergency", false);
	obs_data_set_default_double(settings, "emergency_size", 6.0);
	obs_data_set_default_string(settings, "shape", "rect");
	obs_data_set_default_double(settings, "feather", 0.0);
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
