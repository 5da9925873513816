// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/hotkeys.h"

#include <obs-module.h>

#include "board/blur_board.h"
#include "board/settings.h"
#include "host/host_refs.h"
#include "host/hotkeys.h"
#include "host/locale.h"

namespace {

// Each press negates what the board last applied, not what was last
// requested: the value only changes once the host has run update.
void toggle_pressed(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed)
		return;
	auto *board = static_cast<BlurBoard *>(data);
	set_bool_setting(board, setting_keys::kEnabled, !board->enabled.load());
}

void emergency_pressed(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed)
		return;
	auto *board = static_cast<BlurBoard *>(data);
	set_bool_setting(board, setting_keys::kEmergency, !board->emergency_applied.load());
}

} // namespace

void register_board_hotkeys(BlurBoard *board)
{
	board->toggle_hotkey = obs_hotkey_register_source(board->source, "BlurBoard.Toggle",
							  module_text("Hotkey.Toggle"), toggle_pressed, board);
	board->emergency_hotkey = obs_hotkey_register_source(board->source, "BlurBoard.Emergency",
							     module_text("Hotkey.Emergency"), emergency_pressed, board);
}

void unregister_board_hotkeys(BlurBoard *board)
{
	unregister_hotkey(board->toggle_hotkey);
	unregister_hotkey(board->emergency_hotkey);
}

void set_bool_setting(BlurBoard *board, const char *key, bool value)
{
	DataRef settings = refs::data_create();
	obs_data_set_bool(settings, key, value);
	obs_source_update(board->source, settings);
}
