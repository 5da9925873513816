// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/hotkeys.h"

#include <obs-module.h>

#include "board/blur_board.h"
#include "module/host_refs.h"
#include "module/locale.h"

namespace {

// Each press negates what the board last applied, not what was last
// requested: the value only changes once the host has run update.
void toggle_pressed(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed)
		return;
	auto *board = static_cast<BlurBoard *>(data);
	set_bool_setting(board, "enabled", !board->enabled.load());
}

void emergency_pressed(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed)
		return;
	auto *board = static_cast<BlurBoard *>(data);
	set_bool_setting(board, "emergency", !board->emergency_mirror.load());
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
	// Let go of the keys first. libobs 32.2.2 frees a hotkey and only then
	// releases the bindings still held down, writing its press count into
	// the freed block: a board destroyed while its key is held corrupts the
	// heap. Cleared while the hotkey lives, a held binding is released
	// through it (the handlers ignore releases) and unregister finds none.
	obs_hotkey_load_bindings(board->toggle_hotkey, nullptr, 0);
	obs_hotkey_load_bindings(board->emergency_hotkey, nullptr, 0);
	obs_hotkey_unregister(board->toggle_hotkey);
	obs_hotkey_unregister(board->emergency_hotkey);
}

void set_bool_setting(BlurBoard *board, const char *key, bool value)
{
	DataRef settings = refs::data_create();
	obs_data_set_bool(settings, key, value);
	obs_source_update(board->source, settings);
}
