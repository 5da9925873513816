// SPDX-License-Identifier: GPL-2.0-or-later
// The per-frame tick: the fade through real frames, the placement status
// and the shared-board warning (the fade's arithmetic: unit/fade_test).
#include <obs.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "board/blur_board.h"
#include "harness/board.h"
#include "harness/host.h"
#include "harness/scene.h"

namespace {

using harness::Board;
using harness::Scene;

float level(const Board &board)
{
	std::lock_guard<std::mutex> lock(board.record()->mutex);
	return board.record()->fade_level;
}

PlacementStatus status(const Board &board)
{
	return board.record()->placement_status.load();
}

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
	EXPECT_EQ(level(board), 1.0f);

	board.update(R"({"fade_seconds": 0.5, "enabled": false})");
	std::vector<float> levels;
	for (int frame = 0; frame < 40 && (levels.empty() || levels.back() > 0.0f); ++frame) {
		harness::next_frames(1);
		levels.push_back(level(board));
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
	EXPECT_FLOAT_EQ(level(board), 0.4f);
}

TEST(Tick, BoardInNoSceneIsNotPlacedAndSilent)
{
	harness::clear_log();
	Board board("lonely board");
	settle();
	EXPECT_EQ(status(board), PlacementStatus::NotPlaced);
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
	EXPECT_EQ(status(board), PlacementStatus::Placed);
	EXPECT_TRUE(shared_warnings().empty());

	obs_sceneitem_t *again = second.add(board.source);
	settle();
	EXPECT_EQ(status(board), PlacementStatus::Shared);
	auto lines = shared_warnings();
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].level, LOG_WARNING);
	EXPECT_EQ(lines[0].text, "[mistpane] board 'busy board' is used by 2 scene items; it is switched off because "
				 "OBS does not say which one is being drawn. Add a separate board to each scene.");

	// Still shared: silent; the fade goes on as usual.
	board.update(R"({"fade_seconds": 0, "enabled": false})");
	settle();
	EXPECT_EQ(status(board), PlacementStatus::Shared);
	EXPECT_EQ(level(board), 0.0f);
	EXPECT_EQ(shared_warnings().size(), 1u);

	obs_sceneitem_remove(again);
	settle();
	EXPECT_EQ(status(board), PlacementStatus::Placed);
	EXPECT_EQ(shared_warnings().size(), 1u);

	second.add(board.source);
	settle();
	EXPECT_EQ(status(board), PlacementStatus::Shared);
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
	EXPECT_EQ(status(board), PlacementStatus::Placed);
	{
		std::lock_guard<std::mutex> lock(board.record()->mutex);
		obs_source_t *stored = obs_weak_source_get_source(board.record()->placement.scene);
		EXPECT_EQ(stored, obs_scene_get_source(scene.scene));
		obs_source_release(stored);
		EXPECT_EQ(board.record()->placement.group, nullptr);
	}
	obs_sceneitem_remove(item);
	settle();
	EXPECT_EQ(status(board), PlacementStatus::NotPlaced);
	std::lock_guard<std::mutex> lock(board.record()->mutex);
	EXPECT_EQ(board.record()->placement.scene, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
