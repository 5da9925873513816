// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What a board and a filter hide with: the settings they share, read and
// clamped alike, and the cover image they load alike.

#include <obs.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "board/cover_image.h"
#include "board/settings.h"

struct Hiding {
	bool is_mosaic = false;
	bool is_cover = false;
	uint32_t cover_color = 0xFF303030; // 0xAABBGGRR, drawn opaque
	float blur_radius = 20.0f;
	float mosaic_size = 24.0f;
	float strength = 1.0f; // a fraction; always full for a cover
	float fade_seconds = 0.5f;
	BoardShape shape;
	bool enabled = true;
};

// "mode" is "mosaic" or "cover" exactly, anything else blur; numbers are
// clamped wider than the sliders.
Hiding read_hiding(obs_data_t *settings);

// The cover image a board or filter shows, kept with the path it came from.
struct CoverImageSlot {
	std::string path;
	std::shared_ptr<const CoverImage> image; // null: the colour alone
};

// The image of the settings' path, decoded outside the owner's lock (its
// draw takes that lock) and only when the path changed, so that an update
// of any other setting does not read the file again; then swapped into the
// slot under the lock by the caller. Says once per path when it cannot be
// read ("board 'x'" or "filter 'x'": what and the source's name).
struct CoverImageChange {
	bool changed = false;
	CoverImageSlot slot;
};
CoverImageChange reload_cover_image(obs_data_t *settings, std::mutex &mutex, const CoverImageSlot &current,
				    const char *what, obs_source_t *source);
