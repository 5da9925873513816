// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A board source for one test's scope: removed and released at its end, as
// the frontend deletes a source.

#include <obs.h>

#include "harness/host.h"

namespace harness {

struct Board {
	obs_source_t *const source;

	// hotkeys_json: bindings as a scene collection saves them.
	explicit Board(const char *name, const char *settings_json = "{}", const char *hotkeys_json = nullptr)
	    : source(make_board(name, settings_json, hotkeys_json))
	{
	}
	Board(const Board &) = delete;
	Board &operator=(const Board &) = delete;
	~Board()
	{
		obs_source_remove(source);
		obs_source_release(source);
	}

	BlurBoard *record() const { return board_of(source); }

	// Merged into the stored settings; the host applies a video source's
	// update in its next tick.
	void update(const char *json_text) const
	{
		obs_data_t *data = json(json_text);
		obs_source_update(source, data);
		obs_data_release(data);
	}
};

} // namespace harness
