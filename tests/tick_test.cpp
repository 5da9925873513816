// SPDX-License-Identifier: GPL-2.0-or-later
// The per-frame tick: the fade as arithmetic and through real frames, the
// placement status and the shared-board warning.
#include <obs.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "board/blur_board.h"
#include "harness/host.h"
#include "placement/fade.h"

namespace {

// Runs n ticks of the given length and returns the level after them.
float ticks(float level, float target, float fade_seconds, int n, float seconds = 1.0f / 60.0f)
{
	for (int i = 0; i < n; ++i)
		level = fade_toward(level, target, fade_seconds, seconds);
	return level;
}

TEST(Fade, WithoutFadeTimeTheLevelIsTheTargetAtOnce)
{
	EXPECT_EQ(fade_toward(1.0f, 0.0f, 0.0f, 1.0f / 60.0f), 0.0f);
	EXPECT_EQ(fade_toward(0.2f, 0.7f, 0.0f, 1.0f / 60.0f), 0.7f);
	EXPECT_EQ(fade_toward(0.2f, 0.7f, -1.0f, 1.0f / 60.0f), 0.7f);
	EXPECT_EQ(fade_toward(0.2f, 0.7f, 0.0f, 0.0f), 0.7f);
}

TEST(Fade, FadesOutOverTwoSecondsAndNeverBelowZero)
{
	float level = 1.0f;
	for (int i = 1; i <= 130; ++i) {
		const float next = fade_toward(level, 0.0f, 2.0f, 1.0f / 60.0f);
		EXPECT_GE(next, 0.0f);
		if (level > 1.0f / 120.0f)
			EXPECT_NEAR(level - next, 1.0f / 120.0f, 1e-5f) << "tick " << i;
		level = next;
		if (i == 60)
			EXPECT_NEAR(level, 0.5f, 1e-4f);
		if (i >= 121)
			EXPECT_EQ(level, 0.0f) << "tick " << i;
	}
}

TEST(Fade, RisesToHalfStrengthInHalfTheFadeTimeAndStays)
{
	EXPECT_NEAR(ticks(0.0f, 0.5f, 1.0f, 15), 0.25f, 1e-5f);
	EXPECT_NEAR(ticks(0.0f, 0.5f, 1.0f, 30), 0.5f, 1e-5f);
	EXPECT_EQ(ticks(0.0f, 0.5f, 1.0f, 31), 0.5f);
	EXPECT_EQ(ticks(0.0f, 0.5f, 1.0f, 600), 0.5f);
}

TEST(Fade, LowerStrengthIsReachedGraduallyNotByAJump)
{
	// Strength 100 % to 25 % with a fade time of 4 s: 0.75 to go at 0.25 a
	// second takes 3 s.
	EXPECT_NEAR(fade_toward(1.0f, 0.25f, 4.0f, 1.0f / 60.0f), 1.0f - 1.0f / 240.0f, 1e-6f);
	EXPECT_NEAR(ticks(1.0f, 0.25f, 4.0f, 90), 0.625f, 1e-4f);
	EXPECT_GT(ticks(1.0f, 0.25f, 4.0f, 179), 0.25f);
	EXPECT_EQ(ticks(1.0f, 0.25f, 4.0f, 181), 0.25f);
}

TEST(Fade, ALongTickStopsAtTheTarget)
{
	EXPECT_EQ(fade_toward(0.1f, 0.9f, 0.5f, 10.0f), 0.9f);
	EXPECT_EQ(fade_toward(0.9f, 0.1f, 0.5f, 10.0f), 0.1f);
	EXPECT_EQ(fade_toward(0.4f, 0.4f, 0.5f, 1.0f / 60.0f), 0.4f);
}

struct Board {
	obs_source_t *source;
	explicit Board(const char *name, const char *json = "{}") : source(harness::make_board(name, json)) {}
	Board(const Board &) = delete;
	~Board()
	{
		obs_source_remove(source);
		obs_source_release(source);
	}
	BlurBoard *record() const { return harness::board_of(source); }
	float level() const
	{
		std::lock_guard<std::mutex> lock(record()->mutex);
		return record()->fade_level;
	}
	PlacementStatus status() const { return record()->placement_status.load(); }
	void update(const char *json) const
	{
		obs_data_t *data = harness::json(json);
		obs_source_update(source, data);
		obs_data_release(data);
	}
};

struct Scene {
	obs_scene_t *scene;
	explicit Scene(const char *name) : scene(harness::make_scene(name)) {}
	Scene(const Scene &) = delete;
	~Scene()
	{
		obs_source_remove(obs_scene_get_source(scene));
		obs_scene_release(scene);
	}
	obs_sceneitem_t *add(obs_source_t *source) const { return obs_scene_add(scene, source); }
};

// Ticks after any change are sure to be in by then (see the registry test).
void settle()
{
	harness::next_frames(4);
}

std::vector<harness::LogLine> shared_warnings()
{
	return harness::log_matching("scene items; it is switched off");
}

TEST(Tick, FadesThroughRealFramesAtTheConfiguredRate)
{
	// In no scene: the fade runs all the same.
	Board board("fading board", R"({"fade_seconds": 0.5})");
	settle();
	EXPECT_EQ(board.level(), 1.0f);

	board.update(R"({"fade_seconds": 0.5, "enabled": false})");
	std::vector<float> levels;
	for (int frame = 0; frame < 40 && (levels.empty() || levels.back() > 0.0f); ++frame) {
		harness::next_frames(1);
		levels.push_back(board.level());
	}
	ASSERT_FALSE(levels.empty());
	EXPECT_EQ(levels.back(), 0.0f);
	int between = 0;
	for (size_t i = 0; i < levels.size(); ++i) {
		EXPECT_GE(levels[i], 0.0f);
		if (i > 0)
			EXPECT_LE(levels[i], levels[i - 1]);
		between += levels[i] > 0.0f && levels[i] < 1.0f;
	}
	// At 30 frames a second half a second of fading is about 15 ticks; some
	// may fall between two of our looks, but it does not jump.
	EXPECT_GE(between, 4);

	// Back on without fade time (updates merge into the stored settings):
	// the level is the target at once.
	board.update(R"({"fade_seconds": 0, "strength": 40, "enabled": true})");
	settle();
	EXPECT_FLOAT_EQ(board.level(), 0.4f);
}

TEST(Tick, BoardInNoSceneIsNotPlacedAndSilent)
{
	harness::clear_log();
	Board board("lonely board");
	settle();
	EXPECT_EQ(board.status(), PlacementStatus::NotPlaced);
	{
		std::lock_guard<std::mutex> lock(board.record()->mutex);
		EXPECT_EQ(board.record()->placement.count, 0u);
		EXPECT_EQ(board.record()->placement.scene, nullptr);
		EXPECT_EQ(board.record()->placement.group, nullptr);
	}
	for (const harness::LogLine &line : harness::log_lines())
		EXPECT_EQ(line.text.find("[mistpane]"), std::string::npos) << line.text;
}

TEST(Tick, SharedBoardWarnsOncePerChangeIntoShared)
{
	Scene first("first scene"), second("second scene");
	Board board("busy board", R"({"fade_seconds": 0})");
	first.add(board.source);
	harness::clear_log();
	settle();
	EXPECT_EQ(board.status(), PlacementStatus::Placed);
	EXPECT_TRUE(shared_warnings().empty());

	obs_sceneitem_t *again = second.add(board.source);
	settle();
	EXPECT_EQ(board.status(), PlacementStatus::Shared);
	auto lines = shared_warnings();
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_WARNING);
	EXPECT_EQ(lines[0].text, "[mistpane] board 'busy board' is used by 2 scene items; it is switched off because "
				 "OBS does not say which one is being drawn. Add a separate board to each scene.");

	// Still shared: silent; the fade goes on as usual.
	board.update(R"({"fade_seconds": 0, "enabled": false})");
	settle();
	EXPECT_EQ(board.status(), PlacementStatus::Shared);
	EXPECT_EQ(board.level(), 0.0f);
	EXPECT_EQ(shared_warnings().size(), 1u);

	obs_sceneitem_remove(again);
	settle();
	EXPECT_EQ(board.status(), PlacementStatus::Placed);
	EXPECT_EQ(shared_warnings().size(), 1u);

	second.add(board.source);
	settle();
	EXPECT_EQ(board.status(), PlacementStatus::Shared);
	lines = shared_warnings();
	ASSERT_EQ(lines.size(), 2u);
	EXPECT_EQ(lines[1].text, lines[0].text);
}

TEST(Tick, StoredPlacementFollowsTheScene)
{
	Scene scene("placing scene");
	Board board("placed board");
	obs_sceneitem_t *item = scene.add(board.source);
	settle();
	EXPECT_EQ(board.status(), PlacementStatus::Placed);
	{
		std::lock_guard<std::mutex> lock(board.record()->mutex);
		obs_source_t *stored = obs_weak_source_get_source(board.record()->placement.scene);
		EXPECT_EQ(stored, obs_scene_get_source(scene.scene));
		obs_source_release(stored);
		EXPECT_EQ(board.record()->placement.group, nullptr);
	}
	obs_sceneitem_remove(item);
	settle();
	EXPECT_EQ(board.status(), PlacementStatus::NotPlaced);
	std::lock_guard<std::mutex> lock(board.record()->mutex);
	EXPECT_EQ(board.record()->placement.scene, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
