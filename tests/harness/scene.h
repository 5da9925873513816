// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A scene of the main canvas for one test's scope: taken out of the canvas
// and released at its end, as the frontend does (a public scene only
// released leaks the canvas's record of it).

#include <obs.h>

#include <cstdint>

#include "harness/host.h"

namespace harness {

struct Scene {
	obs_scene_t *const scene;

	explicit Scene(const char *name) : scene(make_scene(name)) {}
	Scene(const Scene &) = delete;
	Scene &operator=(const Scene &) = delete;
	~Scene()
	{
		release_scene(scene);
		// The host destroys released sources on a task thread of its own.
		obs_wait_for_destroy_queue();
	}

	obs_source_t *source() const { return obs_scene_get_source(scene); }

	// An item of a source the caller keeps holding.
	obs_sceneitem_t *add(obs_source_t *item_source) const { return obs_scene_add(scene, item_source); }

	// An item of a source made for it: the scene takes the caller's reference.
	obs_sceneitem_t *adopt(obs_source_t *item_source) const
	{
		obs_sceneitem_t *item = add(item_source);
		obs_source_release(item_source);
		return item;
	}

	// What the host itself draws for the scene. It brings draw transforms up
	// to date while it renders, but makes an item's own texture afresh only
	// once per video frame, so a frame passes first.
	Image view(uint32_t width, uint32_t height) const
	{
		next_frames(1);
		return render_view(source(), width, height);
	}
};

} // namespace harness
