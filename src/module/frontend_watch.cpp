// SPDX-License-Identifier: GPL-2.0-or-later
#include "module/frontend_watch.h"

#include <obs-frontend-api.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <mutex>
#include <vector>

#include "module/host_refs.h"

namespace {

using EventCallbackFn = void (*)(obs_frontend_event_cb, void *);

EventCallbackFn remove_callback = nullptr;

EventCallbackFn frontend_function(const char *name)
{
	return reinterpret_cast<EventCallbackFn>(frontend_symbol(name));
}
// After EXIT the frontend's interface is gone and must not be called.
bool frontend_gone = false;

std::mutex held_mutex;
std::vector<SourceRef> held_scenes;

bool collect_canvas(void *param, obs_canvas_t *canvas)
{
	if (obs_canvas_t *ref = refs::canvas_get_ref(canvas))
		static_cast<std::vector<CanvasRef> *>(param)->emplace_back(ref);
	return true;
}

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
	std::vector<CanvasRef> canvases;
	if (obs_canvas_t *main_canvas = refs::main_canvas())
		canvases.emplace_back(main_canvas);
	obs_enum_canvases(collect_canvas, &canvases);
	std::vector<SourceRef> scenes;
	for (const CanvasRef &canvas : canvases)
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

void on_event(enum obs_frontend_event event, void *)
{
	frontend_watch_event(event);
}

} // namespace

void *frontend_symbol(const char *name)
{
#ifdef _WIN32
	HMODULE library = GetModuleHandleW(L"obs-frontend-api.dll");
	// Through void (*)(), the one type GCC lets any function pointer pass.
	return library ? reinterpret_cast<void *>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)))
		       : nullptr;
#else
	return dlsym(RTLD_DEFAULT, name);
#endif
}

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
		frontend_gone = true;
		break;
	default:
		break;
	}
}

void frontend_watch_start()
{
	// Looked up rather than linked: the module also runs in hosts without
	// OBS Studio's frontend, where the library is absent.
	const EventCallbackFn add = frontend_function("obs_frontend_add_event_callback");
	remove_callback = frontend_function("obs_frontend_remove_event_callback");
	if (add && remove_callback)
		add(on_event, nullptr);
	else
		remove_callback = nullptr;
}

void frontend_watch_stop()
{
	if (remove_callback && !frontend_gone)
		remove_callback(on_event, nullptr);
	remove_callback = nullptr;
	let_scenes_go();
}
