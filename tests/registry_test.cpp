// SPDX-License-Identifier: GPL-2.0-or-later
// Where boards are found: the module's per-frame scan as the tick stores it,
// and the same registry code asked directly from the test thread.
#include <obs.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/blur_board.h"
#include "harness/board.h"
#include "harness/host.h"
#include "harness/scene.h"
#include "placement/registry.h"

// Interposers of the host's enumerations. The test binary exports them, so
// the loaded module binds to them as well as the internals linked in here;
// each forwards to libobs. Only calls made by our own code are recorded:
// libobs calls some of these itself.
namespace probe {

enum class Origin { Host, Module, Test };

Origin origin_of(const void *return_address)
{
	Dl_info info = {};
	if (!dladdr(return_address, &info) || !info.dli_fname)
		return Origin::Host;
	const char *name = std::strrchr(info.dli_fname, '/');
	name = name ? name + 1 : info.dli_fname;
	if (std::strcmp(name, "mistpane.so") == 0)
		return Origin::Module;
	if (std::strstr(name, "registry_test"))
		return Origin::Test;
	return Origin::Host;
}

std::mutex mutex;
// Frame times at which the module's scan started (obs_enum_canvases).
std::vector<uint64_t> module_scans;
// Scans by the test's own registry, and the canvases each walked.
int test_scans = 0;
std::vector<obs_canvas_t *> test_walked_canvases;
// An enumeration of ours started while one of ours was running.
std::atomic<int> nested_enumerations{0};
thread_local int depth = 0;
// libobs walks a group by tail-calling obs_scene_enum_items, which then
// seems to come from our own interposer.
thread_local bool forwarding_group = false;

struct Depth {
	bool ours;
	explicit Depth(Origin origin) : ours(origin != Origin::Host)
	{
		if (ours && depth++ > 0)
			++nested_enumerations;
	}
	~Depth()
	{
		if (ours)
			--depth;
	}
};

template <typename F>
F next(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void reset()
{
	std::lock_guard<std::mutex> lock(mutex);
	module_scans.clear();
	test_scans = 0;
	test_walked_canvases.clear();
	nested_enumerations = 0;
}

} // namespace probe

extern "C" {

void obs_enum_canvases(bool (*enum_proc)(void *, obs_canvas_t *), void *param)
{
	static auto real = probe::next<void (*)(bool (*)(void *, obs_canvas_t *), void *)>("obs_enum_canvases");
	const probe::Origin origin = probe::origin_of(__builtin_return_address(0));
	{
		std::lock_guard<std::mutex> lock(probe::mutex);
		if (origin == probe::Origin::Module)
			probe::module_scans.push_back(obs_get_video_frame_time());
		else if (origin == probe::Origin::Test)
			++probe::test_scans;
	}
	probe::Depth guard(origin);
	real(enum_proc, param);
}

void obs_canvas_enum_scenes(obs_canvas_t *canvas, bool (*enum_proc)(void *, obs_source_t *), void *param)
{
	static auto real =
	    probe::next<void (*)(obs_canvas_t *, bool (*)(void *, obs_source_t *), void *)>("obs_canvas_enum_scenes");
	const probe::Origin origin = probe::origin_of(__builtin_return_address(0));
	if (origin == probe::Origin::Test) {
		std::lock_guard<std::mutex> lock(probe::mutex);
		probe::test_walked_canvases.push_back(canvas);
	}
	probe::Depth guard(origin);
	real(canvas, enum_proc, param);
}

void obs_scene_enum_items(obs_scene_t *scene, bool (*callback)(obs_scene_t *, obs_sceneitem_t *, void *), void *param)
{
	static auto real =
	    probe::next<void (*)(obs_scene_t *, bool (*)(obs_scene_t *, obs_sceneitem_t *, void *), void *)>(
		"obs_scene_enum_items");
	const bool via_group = probe::forwarding_group;
	probe::forwarding_group = false;
	probe::Depth guard(via_group ? probe::Origin::Host : probe::origin_of(__builtin_return_address(0)));
	real(scene, callback, param);
}

void obs_sceneitem_group_enum_items(obs_sceneitem_t *group, bool (*callback)(obs_scene_t *, obs_sceneitem_t *, void *),
				    void *param)
{
	static auto real =
	    probe::next<void (*)(obs_sceneitem_t *, bool (*)(obs_scene_t *, obs_sceneitem_t *, void *), void *)>(
		"obs_sceneitem_group_enum_items");
	probe::Depth guard(probe::origin_of(__builtin_return_address(0)));
	probe::forwarding_group = true;
	real(group, callback, param);
	probe::forwarding_group = false;
}

} // extern "C"

namespace {

using harness::Board;
using harness::Scene;

// A placement read back as plain handles (compared by identity only).
struct Found {
	uint32_t count = 0;
	obs_source_t *scene = nullptr;
	obs_source_t *group = nullptr;
};

obs_source_t *identity_of(obs_weak_source_t *weak)
{
	obs_source_t *strong = obs_weak_source_get_source(weak);
	obs_source_release(strong);
	return strong;
}

Found found_from(const Placement &placement)
{
	return {placement.count, identity_of(placement.scene), identity_of(placement.group)};
}

// What the test's own registry (or another) answers now.
Found asked(obs_source_t *board, PlacementRegistry &registry = placement_registry())
{
	Placement placement;
	registry.query(board, placement);
	const Found found = found_from(placement);
	release_placement(placement);
	return found;
}

// The host ticks before it draws, and raw frames arrive a few frames after
// they are drawn; four frames are sure to include a tick after any change.
void settle()
{
	harness::next_frames(4);
}

// What the module's own tick stored in the board after the latest frames.
Found stored(obs_source_t *board)
{
	settle();
	BlurBoard *record = harness::board_of(board);
	std::lock_guard<std::mutex> lock(record->mutex);
	return found_from(record->placement);
}

void expect_found(obs_source_t *board, uint32_t count, obs_source_t *scene, obs_source_t *group)
{
	for (const Found &found : {stored(board), asked(board)}) {
		EXPECT_EQ(found.count, count);
		EXPECT_EQ(found.scene, scene);
		EXPECT_EQ(found.group, group);
	}
}

// Waits for the host's next video frame time, so that the calls right after
// run within one frame (callers check that they did).
uint64_t fresh_frame()
{
	const uint64_t now = obs_get_video_frame_time();
	while (obs_get_video_frame_time() == now)
		std::this_thread::sleep_for(std::chrono::microseconds(200));
	return obs_get_video_frame_time();
}

int test_scans()
{
	std::lock_guard<std::mutex> lock(probe::mutex);
	return probe::test_scans;
}

class Registry : public ::testing::Test {
      protected:
	void SetUp() override { probe::reset(); }
	void TearDown() override
	{
		// The test's registry holds weak references until cleared.
		placement_registry().clear();
		EXPECT_EQ(probe::nested_enumerations.load(), 0);
	}
};

TEST_F(Registry, BoardDirectlyInASceneIsFoundThere)
{
	Scene scene("direct");
	Board board("direct board");
	scene.add(board.source);
	expect_found(board.source, 1, scene.source(), nullptr);
}

TEST_F(Registry, BoardInAGroupNamesTheContainingSceneAndTheGroup)
{
	Scene scene("with group");
	Board board("grouped board");
	obs_sceneitem_t *group = obs_scene_add_group(scene.scene, "the group");
	ASSERT_NE(group, nullptr);
	obs_sceneitem_group_add_item(group, scene.add(board.source));
	expect_found(board.source, 1, scene.source(), obs_sceneitem_get_source(group));
}

TEST_F(Registry, BoardTwiceInOneSceneOrInTwoScenesCountsTwo)
{
	Scene first("twice"), second("other");
	Board twice("twice board"), spread("spread board");
	first.add(twice.source);
	first.add(twice.source);
	first.add(spread.source);
	second.add(spread.source);
	EXPECT_EQ(stored(twice.source).count, 2u);
	EXPECT_EQ(asked(twice.source).count, 2u);
	EXPECT_EQ(asked(spread.source).count, 2u);
	EXPECT_EQ(stored(spread.source).count, 2u);
}

TEST_F(Registry, SceneNestedInTwoScenesCountsItsBoardOnce)
{
	Scene a("outer a"), b("nested b"), c("outer c");
	Board board("nested board");
	b.add(board.source);
	a.add(b.source());
	c.add(b.source());
	expect_found(board.source, 1, b.source(), nullptr);
}

TEST_F(Registry, DeeplyNestedScenesAndGroupsAreAllWalked)
{
	// A chain of twelve scenes, each nesting the next, some through a group;
	// the board sits in a group of the innermost one.
	std::vector<Scene *> chain;
	for (int i = 0; i < 12; ++i)
		chain.push_back(new Scene(("chain " + std::to_string(i)).c_str()));
	for (int i = 0; i + 1 < 12; ++i) {
		obs_sceneitem_t *item = chain[i]->add(chain[i + 1]->source());
		if (i % 3 == 1) {
			obs_sceneitem_t *group =
			    obs_scene_add_group(chain[i]->scene, ("link " + std::to_string(i)).c_str());
			obs_sceneitem_group_add_item(group, item);
		}
	}
	Board board("deep board");
	obs_sceneitem_t *group = obs_scene_add_group(chain.back()->scene, "deep group");
	obs_sceneitem_group_add_item(group, chain.back()->add(board.source));
	expect_found(board.source, 1, chain.back()->source(), obs_sceneitem_get_source(group));
	for (auto it = chain.rbegin(); it != chain.rend(); ++it)
		delete *it;
}

TEST_F(Registry, HiddenItemIsCounted)
{
	Scene scene("hidden");
	Board board("hidden board");
	obs_sceneitem_set_visible(scene.add(board.source), false);
	expect_found(board.source, 1, scene.source(), nullptr);
}

TEST_F(Registry, SceneThatNoOutputShowsIsStillWalked)
{
	// Program shows one scene; the board's scene is not shown anywhere (a
	// headless host has no preview).
	Scene program("on program"), off("off air");
	Board board("off air board");
	off.add(board.source);
	obs_set_output_source(0, program.source());
	expect_found(board.source, 1, off.source(), nullptr);
	obs_set_output_source(0, nullptr);
}

TEST_F(Registry, SecondCanvasIsWalkedAndTheMainCanvasOnlyOnce)
{
	obs_canvas_t *main_canvas = obs_get_main_canvas();
	obs_canvas_t *second = obs_canvas_create("second canvas", nullptr, 0);
	ASSERT_NE(second, nullptr);
	obs_scene_t *far = obs_canvas_scene_create(second, "far scene");
	Board board("far board");
	obs_scene_add(far, board.source);

	// The host lists the main canvas among all canvases, so the scan meets it
	// twice: once first, once in the enumeration.
	std::vector<obs_canvas_t *> listed;
	obs_enum_canvases(
	    [](void *param, obs_canvas_t *canvas) {
		    static_cast<std::vector<obs_canvas_t *> *>(param)->push_back(canvas);
		    return true;
	    },
	    &listed);
	EXPECT_NE(std::find(listed.begin(), listed.end(), main_canvas), listed.end());
	EXPECT_NE(std::find(listed.begin(), listed.end(), second), listed.end());

	expect_found(board.source, 1, obs_scene_get_source(far), nullptr);
	{
		std::lock_guard<std::mutex> lock(probe::mutex);
		std::vector<obs_canvas_t *> walked = probe::test_walked_canvases;
		ASSERT_FALSE(walked.empty());
		EXPECT_EQ(walked.front(), main_canvas);
		EXPECT_EQ(std::count(walked.begin(), walked.end(), main_canvas), 1);
		EXPECT_EQ(std::count(walked.begin(), walked.end(), second), 1);
	}

	obs_scene_release(far);
	obs_canvas_remove(second);
	obs_canvas_release(second);
	obs_canvas_release(main_canvas);
}

TEST_F(Registry, BoardInNoSceneIsNotFound)
{
	Scene scene("unrelated");
	Board placed("placed board"), loose("loose board");
	scene.add(placed.source);
	expect_found(loose.source, 0, nullptr, nullptr);
}

TEST_F(Registry, ScenesNestedInACircleEndAndCountOnce)
{
	Scene a("circle a"), b("circle b");
	Board board("circle board");
	a.add(board.source);
	obs_sceneitem_t *b_in_a = a.add(b.source());
	ASSERT_NE(b_in_a, nullptr);
	// libobs refuses an item that would close a circle ("infinite source
	// recursion"); it checks the whole tree, hidden items too. Should a host
	// allow it, the scan must still end.
	obs_sceneitem_t *a_in_b = b.add(a.source());
	if (!a_in_b) {
		obs_sceneitem_set_visible(b_in_a, false);
		a_in_b = b.add(a.source());
	}
	if (!a_in_b)
		GTEST_SKIP() << "the host refuses to nest scenes in a circle";
	expect_found(board.source, 1, a.source(), nullptr);
	// Break the circle so that both scenes can go.
	obs_sceneitem_remove(a_in_b);
}

TEST_F(Registry, HoldsOnlyWeakReferencesBetweenFrames)
{
	Board board("weak board");
	obs_weak_source_t *weak_scene = nullptr;
	{
		Scene scene("short lived");
		scene.add(board.source);
		settle();
		Placement placement;
		placement_registry().query(board.source, placement);
		ASSERT_EQ(placement.count, 1u);
		weak_scene = placement.scene;
		obs_weak_source_addref(weak_scene);
		// The module's tick holds this scene's placement too.
	}
	// Removed and released: neither registry nor the board keeps it alive.
	settle();
	EXPECT_EQ(obs_weak_source_get_source(weak_scene), nullptr);
	obs_weak_source_release(weak_scene);
	EXPECT_EQ(stored(board.source).count, 0u);
}

TEST_F(Registry, TwoBoardsInOneFrameShareOneScan)
{
	Scene scene("shared scan");
	Board first("first board"), second("second board");
	scene.add(first.source);
	scene.add(second.source);
	scene.add(second.source);

	bool same_frame = false;
	for (int attempt = 0; attempt < 20 && !same_frame; ++attempt) {
		const uint64_t frame = fresh_frame();
		probe::reset();
		const Found a = asked(first.source);
		const Found b = asked(second.source);
		same_frame = obs_get_video_frame_time() == frame;
		if (!same_frame)
			continue;
		EXPECT_EQ(test_scans(), 1);
		EXPECT_EQ(a.count, 1u);
		EXPECT_EQ(b.count, 2u);
	}
	EXPECT_TRUE(same_frame) << "no two queries fitted in one frame";

	// The module's own ticks, with an item added and removed every frame:
	// never two scans in one frame for these boards.
	obs_source_t *filler = harness::make_pattern("shared scan filler", 8, 8);
	probe::reset();
	for (int frame = 0; frame < 10; ++frame) {
		fresh_frame();
		obs_sceneitem_remove(scene.add(filler));
	}
	harness::next_frames(2);
	std::vector<uint64_t> scans;
	{
		std::lock_guard<std::mutex> lock(probe::mutex);
		scans = probe::module_scans;
	}
	EXPECT_GE(scans.size(), 5u);
	std::sort(scans.begin(), scans.end());
	EXPECT_EQ(std::adjacent_find(scans.begin(), scans.end()), scans.end());
	obs_source_remove(filler);
	obs_source_release(filler);
}

// For each kind of change, the held scan answers the next frame what a
// fresh walk answers; frames without a change scan nothing, in the test's
// registry or the module's.
TEST_F(Registry, HeldScanFollowsEachChangeAndQuietFramesDoNotScan)
{
	Scene top("watched top"), inner("watched inner"), side("watched side");
	Board one("watched one"), two("watched two");
	side.add(one.source);
	obs_sceneitem_t *group = obs_scene_add_group(top.scene, "watched group");
	obs_scene_t *group_scene = obs_sceneitem_group_get_scene(group);
	obs_canvas_t *canvas = nullptr;
	std::vector<obs_scene_t *> far;
	const auto item_of_two = [&] { return obs_scene_find_source(top.scene, "watched two"); };

	struct Case {
		const char *change;
		std::function<void()> apply;
		uint32_t one, two; // counts after it
	};
	const Case cases[] = {
	    {"item added to a scene", [&] { top.add(two.source); }, 1, 1},
	    {"board moved into a group", [&] { obs_sceneitem_group_add_item(group, item_of_two()); }, 1, 1},
	    {"item removed from a group",
	     [&] { obs_sceneitem_remove(obs_scene_find_source(group_scene, "watched two")); }, 1, 0},
	    {"item added to a group", [&] { obs_scene_add(group_scene, two.source); }, 1, 1},
	    {"group ungrouped", [&] { obs_sceneitem_group_ungroup(group); }, 1, 1},
	    {"item removed", [&] { obs_sceneitem_remove(item_of_two()); }, 1, 0},
	    {"nested scene added",
	     [&] {
		     inner.add(two.source);
		     top.add(inner.source());
	     },
	     1, 1},
	    {"nested scene gaining a board", [&] { inner.add(one.source); }, 2, 1},
	    {"scene removed", [&] { obs_source_remove(side.source()); }, 1, 1},
	    {"new canvas with a scene",
	     [&] {
		     canvas = obs_canvas_create("watched canvas", nullptr, 0);
		     far.push_back(obs_canvas_scene_create(canvas, "far a"));
		     obs_scene_add(far.back(), two.source);
	     },
	     1, 2},
	    {"scene added to that canvas",
	     [&] {
		     far.push_back(obs_canvas_scene_create(canvas, "far b"));
		     obs_scene_add(far.back(), one.source);
	     },
	     2, 2},
	};

	asked(one.source);
	for (const Case &c : cases) {
		SCOPED_TRACE(c.change);
		c.apply();
		fresh_frame();
		probe::reset();
		const Found held[] = {asked(one.source), asked(two.source)};
		EXPECT_EQ(test_scans(), 1);
		PlacementRegistry fresh;
		const Found walked[] = {asked(one.source, fresh), asked(two.source, fresh)};
		fresh.clear();
		for (int b = 0; b < 2; ++b) {
			EXPECT_EQ(held[b].count, walked[b].count);
			EXPECT_EQ(held[b].scene, walked[b].scene);
			EXPECT_EQ(held[b].group, walked[b].group);
		}
		EXPECT_EQ(held[0].count, c.one);
		EXPECT_EQ(held[1].count, c.two);

		// Scans still owed (sources destroyed later, an ungrouping's second
		// look) are paid in these two frames.
		obs_wait_for_destroy_queue();
		fresh_frame();
		asked(one.source);
		fresh_frame();
		probe::reset();
		for (int frame = 0; frame < 2; ++frame) {
			fresh_frame();
			asked(one.source);
			asked(two.source);
		}
		EXPECT_EQ(test_scans(), 0);
		std::lock_guard<std::mutex> lock(probe::mutex);
		EXPECT_TRUE(probe::module_scans.empty());
	}

	for (obs_scene_t *scene : far)
		harness::release_scene(scene);
	obs_canvas_remove(canvas);
	obs_canvas_release(canvas);
}

TEST_F(Registry, NextFrameRescansAndSeesTheChange)
{
	Scene scene("changing");
	Board board("changing board");
	obs_sceneitem_t *item = scene.add(board.source);
	obs_sceneitem_t *extra = nullptr;

	bool same_frame = false;
	for (int attempt = 0; attempt < 20 && !same_frame; ++attempt) {
		const uint64_t frame = fresh_frame();
		probe::reset();
		const Found before = asked(board.source);
		extra = scene.add(board.source);
		// Within the frame the held scan still answers.
		const Found within = asked(board.source);
		same_frame = obs_get_video_frame_time() == frame;
		if (!same_frame) {
			obs_sceneitem_remove(extra);
			continue;
		}
		EXPECT_EQ(test_scans(), 1);
		EXPECT_EQ(before.count, 1u);
		EXPECT_EQ(within.count, 1u);
	}
	ASSERT_TRUE(same_frame) << "no two queries fitted in one frame";

	fresh_frame();
	EXPECT_EQ(asked(board.source).count, 2u);
	EXPECT_EQ(test_scans(), 2);
	EXPECT_EQ(stored(board.source).count, 2u);

	obs_sceneitem_remove(extra);
	obs_sceneitem_remove(item);
	fresh_frame();
	EXPECT_EQ(asked(board.source).count, 0u);
	EXPECT_EQ(test_scans(), 3);
	EXPECT_EQ(stored(board.source).count, 0u);
}

TEST_F(Registry, QueryAfterClearScansAgain)
{
	Scene scene("cleared");
	Board board("cleared board");
	scene.add(board.source);

	bool same_frame = false;
	for (int attempt = 0; attempt < 20 && !same_frame; ++attempt) {
		const uint64_t frame = fresh_frame();
		probe::reset();
		const Found first = asked(board.source);
		placement_registry().clear();
		const Found second = asked(board.source);
		same_frame = obs_get_video_frame_time() == frame;
		if (!same_frame)
			continue;
		EXPECT_EQ(test_scans(), 2);
		EXPECT_EQ(first.count, 1u);
		EXPECT_EQ(second.count, 1u);
		EXPECT_EQ(second.scene, scene.source());
	}
	EXPECT_TRUE(same_frame);
}

TEST_F(Registry, AnotherTypeIdScansForThatType)
{
	Scene scene("mixed");
	Board board("typed board");
	obs_source_t *pattern = harness::make_pattern("typed pattern", 64, 64);
	scene.add(board.source);
	scene.add(pattern);
	scene.add(pattern);
	scene.add(pattern);

	bool same_frame = false;
	for (int attempt = 0; attempt < 20 && !same_frame; ++attempt) {
		const uint64_t frame = fresh_frame();
		probe::reset();
		const Found as_board = asked(board.source);
		const Found as_pattern = asked(pattern);
		const Found board_again = asked(board.source);
		same_frame = obs_get_video_frame_time() == frame;
		if (!same_frame)
			continue;
		EXPECT_EQ(test_scans(), 3);
		EXPECT_EQ(as_board.count, 1u);
		EXPECT_EQ(as_pattern.count, 3u);
		EXPECT_EQ(board_again.count, 1u);
	}
	EXPECT_TRUE(same_frame);
	obs_source_remove(pattern);
	obs_source_release(pattern);
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
