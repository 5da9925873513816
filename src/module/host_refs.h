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

// Takes: each returns a new reference (or null) that the caller owns.
inline obs_source_t *source_get_ref(obs_source_t *source)
{
	obs_source_t *ref = obs_source_get_ref(source);
	if (ref)
		note(Kind::Source, ref, 1);
	return ref;
}
inline obs_source_t *weak_get_source(obs_weak_source_t *weak)
{
	obs_source_t *ref = obs_weak_source_get_source(weak);
	if (ref)
		note(Kind::Source, ref, 1);
	return ref;
}
inline obs_source_t *transition_get_source(obs_source_t *transition, obs_transition_target target)
{
	obs_source_t *ref = obs_transition_get_source(transition, target);
	if (ref)
		note(Kind::Source, ref, 1);
	return ref;
}
inline obs_weak_source_t *get_weak_source(obs_source_t *source)
{
	obs_weak_source_t *weak = obs_source_get_weak_source(source);
	if (weak)
		note(Kind::WeakSource, weak, 1);
	return weak;
}
inline obs_weak_source_t *weak_addref(obs_weak_source_t *weak)
{
	if (weak) {
		obs_weak_source_addref(weak);
		note(Kind::WeakSource, weak, 1);
	}
	return weak;
}
inline obs_scene_t *scene_get_ref(obs_scene_t *scene)
{
	obs_scene_t *ref = obs_scene_get_ref(scene);
	if (ref)
		note(Kind::Scene, ref, 1);
	return ref;
}
inline obs_sceneitem_t *item_addref(obs_sceneitem_t *item)
{
	if (item) {
		obs_sceneitem_addref(item);
		note(Kind::Item, item, 1);
	}
	return item;
}
inline obs_canvas_t *main_canvas()
{
	obs_canvas_t *ref = obs_get_main_canvas();
	if (ref)
		note(Kind::Canvas, ref, 1);
	return ref;
}
inline obs_canvas_t *canvas_get_ref(obs_canvas_t *canvas)
{
	obs_canvas_t *ref = obs_canvas_get_ref(canvas);
	if (ref)
		note(Kind::Canvas, ref, 1);
	return ref;
}
inline obs_weak_canvas_t *get_weak_canvas(obs_canvas_t *canvas)
{
	obs_weak_canvas_t *weak = obs_canvas_get_weak_canvas(canvas);
	if (weak)
		note(Kind::WeakCanvas, weak, 1);
	return weak;
}
inline obs_canvas_t *weak_get_canvas(obs_weak_canvas_t *weak)
{
	obs_canvas_t *ref = obs_weak_canvas_get_canvas(weak);
	if (ref)
		note(Kind::Canvas, ref, 1);
	return ref;
}
inline obs_data_t *data_create()
{
	obs_data_t *data = obs_data_create();
	if (data)
		note(Kind::Data, data, 1);
	return data;
}

// Releases, the counterparts of the takes above; null is allowed.
inline void source_release(obs_source_t *source)
{
	if (source)
		note(Kind::Source, source, -1);
	obs_source_release(source);
}
inline void weak_release(obs_weak_source_t *weak)
{
	if (weak)
		note(Kind::WeakSource, weak, -1);
	obs_weak_source_release(weak);
}
inline void scene_release(obs_scene_t *scene)
{
	if (scene)
		note(Kind::Scene, scene, -1);
	obs_scene_release(scene);
}
inline void item_release(obs_sceneitem_t *item)
{
	if (item)
		note(Kind::Item, item, -1);
	obs_sceneitem_release(item);
}
inline void canvas_release(obs_canvas_t *canvas)
{
	if (canvas)
		note(Kind::Canvas, canvas, -1);
	obs_canvas_release(canvas);
}
inline void weak_canvas_release(obs_weak_canvas_t *weak)
{
	if (weak)
		note(Kind::WeakCanvas, weak, -1);
	obs_weak_canvas_release(weak);
}
inline void data_release(obs_data_t *data)
{
	if (data)
		note(Kind::Data, data, -1);
	obs_data_release(data);
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
