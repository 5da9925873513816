// SPDX-License-Identifier: GPL-2.0-or-later
#include "module/frontend_watch.h"

#include <mutex>
#include <vector>

#include "host/canvases.h"
#include "host/frontend.h"
#include "host/host_refs.h"

namespace {

std::mutex held_mutex;
std::vector<SourceRef> held_scenes;

bool collect_scene(void *param, obs_source_t *scene)
{
	if (obs_source_t *ref = refs::source_get_ref(scene))
		static_cast<std::vector<SourceRef> *>(param)->emplace_back(ref);
	return true;
}

// The frontend clears a collection by calling obs_source_remove on each
// scene from inside obs_enum_scenes. libobs 32.2.2 drops the walk's own
// reference to a scene before it reads the next one, so when that was the
// last reference the destroy thread may free the scene first: the walk
// stops early (or reads freed memory) and the scenes it misses outlive the
// modules. Holding a reference to every scene meanwhile keeps each one
// alive until the walk has passed it; they go once the frontend is done.
void hold_scenes()
{
	std::vector<SourceRef> scenes;
	for (const CanvasRef &canvas : all_canvases())
		obs_canvas_enum_scenes(canvas, collect_scene, &scenes);
	std::lock_guard<std::mutex> lock(held_mutex);
	for (SourceRef &scene : scenes)
		held_scenes.push_back(std::move(scene));
}

void let_scenes_go()
{
	std::vector<SourceRef> scenes;
	{
		std::lock_guard<std::mutex> lock(held_mutex);
		scenes.swap(held_scenes);
	}
	// Released here, outside the lock: a last release destroys the scene.
}

FrontendEvents events{frontend_watch_event};

} // namespace

void frontend_watch_event(enum obs_frontend_event event)
{
	switch (event) {
	case OBS_FRONTEND_EVENT_SCRIPTING_SHUTDOWN:
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
		hold_scenes();
		break;
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP:
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		let_scenes_go();
		break;
	case OBS_FRONTEND_EVENT_EXIT:
		let_scenes_go();
		break;
	default:
		break;
	}
}

void frontend_watch_start()
{
	events.start();
}

void frontend_watch_stop()
{
	events.stop();
	let_scenes_go();
}
