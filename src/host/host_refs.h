// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Every reference the module takes on a host object goes through these
// helpers, and every one it holds sits in one of the RAII types below. A
// build with MISTPANE_REF_AUDIT counts them per object, so the module can
// show that it gives back everything it took, apart from what the host
// itself keeps or loses.

#include <obs.hpp>

#include <cstdint>
#include <string>

namespace refs {

enum class Kind : uint8_t { Source, Scene, Item, Canvas, Data, WeakSource, WeakCanvas };

#ifdef MISTPANE_REF_AUDIT
void note(Kind kind, const void *object, int delta);
#else
inline void note(Kind, const void *, int)
{
}
#endif

// A reference just taken (or null), counted when there is one.
template <typename T>
inline T *taken(Kind kind, T *ref)
{
	if (ref)
		note(kind, ref, 1);
	return ref;
}

// Takes: each returns a new reference (or null) that the caller owns.
inline obs_source_t *source_get_ref(obs_source_t *source)
{
	return taken(Kind::Source, obs_source_get_ref(source));
}
inline obs_source_t *weak_get_source(obs_weak_source_t *weak)
{
	return taken(Kind::Source, obs_weak_source_get_source(weak));
}
inline obs_source_t *transition_get_source(obs_source_t *transition, obs_transition_target target)
{
	return taken(Kind::Source, obs_transition_get_source(transition, target));
}
inline obs_weak_source_t *get_weak_source(obs_source_t *source)
{
	return taken(Kind::WeakSource, obs_source_get_weak_source(source));
}
inline obs_weak_source_t *weak_addref(obs_weak_source_t *weak)
{
	if (weak)
		obs_weak_source_addref(weak);
	return taken(Kind::WeakSource, weak);
}
inline obs_scene_t *scene_get_ref(obs_scene_t *scene)
{
	return taken(Kind::Scene, obs_scene_get_ref(scene));
}
inline obs_sceneitem_t *item_addref(obs_sceneitem_t *item)
{
	if (item)
		obs_sceneitem_addref(item);
	return taken(Kind::Item, item);
}
inline obs_canvas_t *main_canvas()
{
	return taken(Kind::Canvas, obs_get_main_canvas());
}
inline obs_canvas_t *canvas_get_ref(obs_canvas_t *canvas)
{
	return taken(Kind::Canvas, obs_canvas_get_ref(canvas));
}
inline obs_weak_canvas_t *get_weak_canvas(obs_canvas_t *canvas)
{
	return taken(Kind::WeakCanvas, obs_canvas_get_weak_canvas(canvas));
}
inline obs_canvas_t *weak_get_canvas(obs_weak_canvas_t *weak)
{
	return taken(Kind::Canvas, obs_weak_canvas_get_canvas(weak));
}
inline obs_source_t *create_private_source(const char *id, const char *name, obs_data_t *settings)
{
	return taken(Kind::Source, obs_source_create_private(id, name, settings));
}
inline obs_source_t *canvas_get_channel(obs_canvas_t *canvas, uint32_t channel)
{
	return taken(Kind::Source, obs_canvas_get_channel(canvas, channel));
}
inline obs_data_t *data_create()
{
	return taken(Kind::Data, obs_data_create());
}
inline obs_data_t *data_from_json(const char *json)
{
	return taken(Kind::Data, obs_data_create_from_json(json));
}
inline obs_data_t *data_from_json_file(const char *path, const char *backup_ext)
{
	return taken(Kind::Data, obs_data_create_from_json_file_safe(path, backup_ext));
}

// Releases, the counterparts of the takes above; null is allowed.
template <typename T, void (*host_release)(T *)>
inline void given_back(Kind kind, T *ref)
{
	if (ref)
		note(kind, ref, -1);
	host_release(ref);
}
inline void source_release(obs_source_t *source)
{
	given_back<obs_source_t, obs_source_release>(Kind::Source, source);
}
inline void weak_release(obs_weak_source_t *weak)
{
	given_back<obs_weak_source_t, obs_weak_source_release>(Kind::WeakSource, weak);
}
inline void scene_release(obs_scene_t *scene)
{
	given_back<obs_scene_t, obs_scene_release>(Kind::Scene, scene);
}
inline void item_release(obs_sceneitem_t *item)
{
	given_back<obs_sceneitem_t, obs_sceneitem_release>(Kind::Item, item);
}
inline void canvas_release(obs_canvas_t *canvas)
{
	given_back<obs_canvas_t, obs_canvas_release>(Kind::Canvas, canvas);
}
inline void weak_canvas_release(obs_weak_canvas_t *weak)
{
	given_back<obs_weak_canvas_t, obs_weak_canvas_release>(Kind::WeakCanvas, weak);
}
inline void data_release(obs_data_t *data)
{
	given_back<obs_data_t, obs_data_release>(Kind::Data, data);
}

#ifdef MISTPANE_REF_AUDIT
// Boards alive, so that the balance is judged once they are all gone.
void board_created();
void board_destroyed();
// Unload: logs the balance now, or when the last board the host still
// keeps is destroyed.
void module_unloaded();
// References still held, and a line that names each object still held.
uint64_t outstanding(std::string *report = nullptr);
// A host procedure "mistpane_reference_balance" for tests, which reach the
// loaded module's counts through it.
void register_balance_proc();
#else
inline void board_created()
{
}
inline void board_destroyed()
{
}
inline void module_unloaded()
{
}
inline void register_balance_proc()
{
}
#endif

} // namespace refs

using SourceRef = OBSRefAutoRelease<obs_source_t *, refs::source_release>;
using WeakSourceRef = OBSRefAutoRelease<obs_weak_source_t *, refs::weak_release>;
using SceneRef = OBSRefAutoRelease<obs_scene_t *, refs::scene_release>;
using SceneItemRef = OBSRefAutoRelease<obs_sceneitem_t *, refs::item_release>;
using CanvasRef = OBSRefAutoRelease<obs_canvas_t *, refs::canvas_release>;
using WeakCanvasRef = OBSRefAutoRelease<obs_weak_canvas_t *, refs::weak_canvas_release>;
using DataRef = OBSRefAutoRelease<obs_data_t *, refs::data_release>;
