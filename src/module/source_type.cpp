// SPDX-License-Identifier: GPL-2.0-or-later
#include "module/source_type.h"

#include <obs-module.h>

#include <atomic>

#include "board/blur_board.h"
#include "board/properties.h"
#include "host/host_refs.h"
#include "host/locale.h"
#include "placement/registry.h"
#include "placement/tick.h"
#include "render/board_render.h"
#include "render/draw.h"

namespace {

std::atomic<long> live_boards{0};

const char *board_get_name(void *)
{
	return module_text("BlurBoard");
}

void *board_source_create(obs_data_t *settings, obs_source_t *source)
{
	BoardRender *render = board_render_create();
	BlurBoard *board = render ? board_create(settings, source) : nullptr;
	if (!board) {
		board_render_destroy(render);
		return nullptr;
	}
	board->render = render;
	++live_boards;
	refs::board_created();
	return board;
}

void board_source_destroy(void *data)
{
	auto *board = static_cast<BlurBoard *>(data);
	if (!board)
		return;
	board_render_destroy(board->render);
	board_destroy(board);
	// With no board left nothing asks the registry again: drop its scan so
	// that it holds no reference on scenes that no board is in.
	if (--live_boards == 0)
		placement_registry().clear();
	refs::board_destroyed();
}

void board_video_tick(void *data, float seconds)
{
	auto *board = static_cast<BlurBoard *>(data);
	// The panic cover has no place to look up and no fade: it never asks
	// the registry, so other boards see it nowhere.
	if (board && board->panic_cover.load())
		return;
	board_tick(board, seconds);
}

void board_video_render(void *data, gs_effect_t *)
{
	board_draw(static_cast<BlurBoard *>(data));
}

// In the order of the struct's fields, as designated initializers need.
const obs_source_info source_info = {
    .id = kBoardTypeId,
    .type = OBS_SOURCE_TYPE_INPUT,
    .output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW | OBS_SOURCE_SRGB,
    .get_name = board_get_name,
    .create = board_source_create,
    .destroy = board_source_destroy,
    .get_width = board_get_width,
    .get_height = board_get_height,
    .get_defaults = board_get_defaults,
    .get_properties = board_get_properties,
    .update = board_update,
    .video_tick = board_video_tick,
    .video_render = board_video_render,
    .video_get_color_space = board_get_color_space,
};

} // namespace

void register_board_source()
{
	obs_register_source_s(&source_info, sizeof(obs_source_info));
}
