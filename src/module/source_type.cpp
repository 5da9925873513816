// SPDX-License-Identifier: GPL-2.0-or-later
#include "module/source_type.h"

#include <obs-module.h>

#include "board/blur_board.h"
#include "board/properties.h"
#include "module/locale.h"
#include "placement/tick.h"
#include "render/draw.h"

namespace {

const char *board_get_name(void *)
{
	return module_text("BlurBoard");
}

void board_video_tick(void *data, float seconds)
{
	auto *board = static_cast<BlurBoard *>(data);
	// The panic cover has no place to look up and no fade: it never asks
	// the registry, so other boards see it nowhere.
	if (board && board->canvas_cover.load())
		return;
	board_tick(board, seconds);
}

void board_video_render(void *data, gs_effect_t *)
{
	board_draw(static_cast<BlurBoard *>(data));
}

obs_source_info make_source_info()
{
	obs_source_info info = {};
	info.id = kBoardTypeId;
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW | OBS_SOURCE_SRGB;
	info.get_name = board_get_name;
	info.create = board_create;
	info.destroy = board_destroy;
	info.get_width = board_get_width;
	info.get_height = board_get_height;
	info.get_defaults = board_get_defaults;
	info.get_properties = board_get_properties;
	info.update = board_update;
	info.video_tick = board_video_tick;
	info.video_render = board_video_render;
	info.video_get_color_space = board_get_color_space;
	return info;
}

const obs_source_info source_info = make_source_info();

} // namespace

void register_board_source()
{
	obs_register_source_s(&source_info, sizeof(obs_source_info));
}
