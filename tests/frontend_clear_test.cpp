// SPDX-License-Identifier: GPL-2.0-or-later
// OBS Studio's frontend clears a scene collection (on exit and on a switch)
// by removing every scene from inside obs_enum_scenes. Emulated here with
// the events it sends around that walk: each scene outlives the walk that
// removes it, and all of them go once the frontend says it is done.
#include <obs.h>

#include <gtest/gtest.h>

#include <vector>

#include "harness/host.h"
#include "module/frontend_watch.h"
#include "host/host_refs.h"

namespace {

struct Walk {
	std::vector<obs_weak_source_t *> removed;
	int alive_after_release = 0;
};

// The frontend's callback, and what libobs 32.2.2 does right after it:
// drop the walk's reference, then read the scene's successor.
bool remove_scene(void *param, obs_source_t *scene)
{
	auto &walk = *static_cast<Walk *>(param);
	walk.removed.push_back(obs_source_get_weak_source(scene));
	obs_source_remove(scene);
	return true;
}

bool still_alive(obs_weak_source_t *weak)
{
	obs_source_t *source = obs_weak_source_get_source(weak);
	obs_source_release(source);
	return source != nullptr;
}

void clear_like_the_frontend(enum obs_frontend_event before, Walk &walk)
{
	// Only the canvas keeps them, as once the frontend has let go.
	for (const char *name : {"first", "second", "third"})
		obs_scene_release(harness::make_scene(name));
	frontend_watch_event(before);
	obs_enum_scenes(remove_scene, &walk);
	obs_wait_for_destroy_queue();
	for (obs_weak_source_t *weak : walk.removed)
		walk.alive_after_release += still_alive(weak);
	frontend_watch_event(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP);
	obs_wait_for_destroy_queue();
}

TEST(FrontendClear, ScenesOutliveTheWalkThatRemovesThemOnExitAndOnASwitch)
{
	for (auto before : {OBS_FRONTEND_EVENT_SCRIPTING_SHUTDOWN, OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING}) {
		Walk walk;
		clear_like_the_frontend(before, walk);
		ASSERT_EQ(walk.removed.size(), 3u);
		// Removed and released by the walk, yet alive until the clean-up...
		EXPECT_EQ(walk.alive_after_release, 3);
		// ...and gone after it, with nothing left held by the module.
		for (obs_weak_source_t *weak : walk.removed) {
			EXPECT_FALSE(still_alive(weak));
			obs_weak_source_release(weak);
		}
		EXPECT_EQ(refs::outstanding(), 0u);
	}
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
