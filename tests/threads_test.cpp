// SPDX-License-Identifier: GPL-2.0-or-later
// Boards driven from a thread of their own, as the frontend's user-interface
// thread does, while the host ticks and draws them on its graphics thread.
#include <obs-module.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/blur_board.h"
#include "harness/host.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBoards = 3;
constexpr int kFrames = 90;
// Far beyond any frame or join on this machine, sanitizers included; past it
// the run is taken as deadlocked.
constexpr auto kStall = std::chrono::seconds(60);

double seconds_since(Clock::time_point start)
{
	return std::chrono::duration<double>(Clock::now() - start).count();
}

void key(obs_key_t k)
{
	obs_hotkey_inject_event(obs_key_combination_t{0, k}, true);
	obs_hotkey_inject_event(obs_key_combination_t{0, k}, false);
}

// Every write of settings from the test goes through write_settings, which
// calls nothing of the module: tests/tsan.supp names it for the host's own
// race on the settings object. A frame shows in ThreadSanitizer's reports only
// where it calls an instrumented function, hence the extra step.
[[gnu::noinline]] void host_source_update(obs_source_t *source, obs_data_t *data)
{
	obs_source_update(source, data);
}

[[gnu::noinline]] void write_settings(obs_source_t *source, const std::string &json)
{
	obs_data_t *data = harness::json(json.c_str());
	host_source_update(source, data);
	obs_data_release(data);
}

// Runs body on a thread of its own until stop is set; false when the thread
// does not come back within kStall after that.
struct Worker {
	std::atomic<bool> stop{false};
	std::atomic<long> rounds{0};
	std::promise<void> done;
	std::thread thread;

	template <typename Body>
	explicit Worker(Body body)
	{
		thread = std::thread([this, body] {
			while (!stop.load()) {
				body(rounds.load());
				++rounds;
				// A short breath keeps the pressure high without
				// starving the host's threads of the two cores.
				std::this_thread::sleep_for(std::chrono::microseconds(100));
			}
			done.set_value();
		});
	}
	bool finish()
	{
		stop = true;
		if (done.get_future().wait_for(kStall) != std::future_status::ready) {
			thread.detach();
			return false;
		}
		thread.join();
		return true;
	}
};

// Waits for n frames; false when one of them takes kStall.
bool frames_keep_coming(int n)
{
	for (int i = 0; i < n; ++i) {
		const auto start = Clock::now();
		harness::next_frames(1);
		if (Clock::now() - start >= kStall)
			return false;
	}
	return true;
}

class Threads : public ::testing::Test {
      protected:
	void SetUp() override
	{
		program = harness::make_scene("program");
		inner = harness::make_scene("inner");
		obs_source_t *pattern = harness::make_pattern("picture", 640, 360, "detail");
		obs_scene_add(program, pattern);
		obs_source_release(pattern);
		for (int i = 0; i < kBoards; ++i) {
			// Bindings as a saved collection brings them: toggle on
			// F13 + 2i, emergency on F14 + 2i.
			const std::string hotkeys = "{\"BlurBoard.Toggle\": [{\"key\": \"OBS_KEY_F" +
						    std::to_string(13 + 2 * i) +
						    "\"}], \"BlurBoard.Emergency\": [{\"key\": \"OBS_KEY_F" +
						    std::to_string(14 + 2 * i) + "\"}]}";
			obs_data_t *hotkey_data = harness::json(hotkeys.c_str());
			obs_data_t *settings = harness::json(R"({"width": 200, "height": 120, "fade_seconds": 0.2})");
			const std::string name = "board " + std::to_string(i);
			boards.push_back(obs_source_create("korvanta_blur_board", name.c_str(), settings, hotkey_data));
			obs_data_release(settings);
			obs_data_release(hotkey_data);
			// Two boards straight in the program scene, one in a
			// scene nested in it.
			obs_sceneitem_t *item = obs_scene_add(i < 2 ? program : inner, boards.back());
			vec2 pos = {40.0f + 180.0f * i, 60.0f + 40.0f * i};
			obs_sceneitem_set_pos(item, &pos);
		}
		obs_scene_add(program, obs_scene_get_source(inner));
		obs_set_output_source(0, obs_scene_get_source(program));
		harness::next_frames(2);
		harness::clear_log();
	}
	void TearDown() override
	{
		obs_set_output_source(0, nullptr);
		for (obs_source_t *board : boards)
			obs_source_release(board);
		harness::release_scene(inner);
		harness::release_scene(program);
		harness::next_frames(2);
		obs_wait_for_destroy_queue();
	}
	static obs_key_t key_for(int board, bool emergency)
	{
		return static_cast<obs_key_t>(OBS_KEY_F13 + 2 * board + (emergency ? 1 : 0));
	}

	obs_scene_t *program = nullptr;
	obs_scene_t *inner = nullptr;
	std::vector<obs_source_t *> boards;
};

TEST_F(Threads, UpdatesPropertiesAndPressesWhileFramesTick)
{
	const auto start = Clock::now();
	Worker worker([&](long round) {
		for (int i = 0; i < kBoards; ++i) {
			obs_source_t *board = boards[i];
			const long n = round + i;
			write_settings(board, "{\"mode\": \"" + std::string(n % 2 ? "mosaic" : "blur") +
						  "\", \"blur_radius\": " + std::to_string(n % 200) +
						  ", \"mosaic_size\": " + std::to_string(2 + n % 60) +
						  ", \"width\": " + std::to_string(100 + n % 300) + ", \"shape\": \"" +
						  (n % 3 ? "rect" : "ellipse") + "\"}");
			obs_properties_destroy(obs_source_properties(board));
			key(key_for(i, false));
			if (n % 7 == 0)
				key(key_for(i, true));
		}
		obs_properties_destroy(obs_get_source_properties("korvanta_blur_board"));
	});
	const bool ticking = frames_keep_coming(kFrames);
	const bool returned = worker.finish();
	ASSERT_TRUE(ticking) << "the host stopped rendering frames";
	ASSERT_TRUE(returned) << "the worker is stuck";
	const double busy = seconds_since(start);
	std::fprintf(stderr,
		     "threads: %ld rounds of %d updates, property lists and presses in %.2f s (%.2f ms a round)\n",
		     worker.rounds.load(), kBoards, busy, 1000.0 * busy / double(std::max(1L, worker.rounds.load())));
	EXPECT_GT(worker.rounds.load(), 10);

	// The last written settings win, whatever came before them.
	for (int i = 0; i < kBoards; ++i)
		write_settings(boards[i], "{\"mode\": \"mosaic\", \"blur_radius\": " + std::to_string(70 + i) +
					      ", \"mosaic_size\": " + std::to_string(20 + i) + ", \"width\": " +
					      std::to_string(321 + i) + ", \"height\": " + std::to_string(123 + i) +
					      ", \"shape\": \"ellipse\", \"enabled\": true, \"emergency\": false}");
	// Raw frames reach the test some frames after they were ticked, more so
	// under a sanitizer; wait until the boards show the last write.
	auto applied = [&](int i) {
		BlurBoard *b = harness::board_of(boards[i]);
		std::lock_guard<std::mutex> lock(b->mutex);
		return b->blur_radius == 70.0f + i && b->width.load() == 321u + i;
	};
	for (int i = 0; i < kBoards; ++i) {
		const auto deadline = Clock::now() + std::chrono::seconds(10);
		while (!applied(i) && Clock::now() < deadline)
			harness::next_frames(1);
	}
	for (int i = 0; i < kBoards; ++i) {
		SCOPED_TRACE(i);
		obs_data_t *stored = obs_source_get_settings(boards[i]);
		EXPECT_STREQ(obs_data_get_string(stored, "mode"), "mosaic");
		EXPECT_EQ(obs_data_get_double(stored, "blur_radius"), 70.0 + i);
		EXPECT_EQ(obs_data_get_int(stored, "width"), 321 + i);
		EXPECT_TRUE(obs_data_get_bool(stored, "enabled"));
		EXPECT_FALSE(obs_data_get_bool(stored, "emergency"));
		obs_data_release(stored);

		BlurBoard *b = harness::board_of(boards[i]);
		{
			std::lock_guard<std::mutex> lock(b->mutex);
			EXPECT_TRUE(b->is_mosaic);
			EXPECT_EQ(b->blur_radius, 70.0f + i);
			EXPECT_EQ(b->mosaic_size, 20.0f + i);
			EXPECT_EQ(b->shape.kind, ShapeKind::Ellipse);
			EXPECT_FALSE(b->emergency);
		}
		EXPECT_EQ(b->width.load(), 321u + i);
		EXPECT_EQ(b->height.load(), 123u + i);
		EXPECT_TRUE(b->enabled.load());
		EXPECT_FALSE(b->emergency_applied.load());
	}
	for (const harness::LogLine &line : harness::log_matching("[mistpane]"))
		EXPECT_GT(line.level, LOG_WARNING) << line.text;
}

// A press may meet a board that is being destroyed: the host must not call
// into a freed board, and the board must not leave anything behind.
TEST_F(Threads, PressesWhileBoardsComeAndGo)
{
	Worker worker([](long) {
		key(OBS_KEY_F24);
		key(OBS_KEY_F25);
	});
	const auto start = Clock::now();
	int made = 0;
	for (; made < 20; ++made) {
		obs_data_t *hotkeys = harness::json(R"({"BlurBoard.Toggle": [{"key": "OBS_KEY_F24"}],
			"BlurBoard.Emergency": [{"key": "OBS_KEY_F25"}]})");
		obs_source_t *board = obs_source_create("korvanta_blur_board", "short-lived board", nullptr, hotkeys);
		obs_data_release(hotkeys);
		obs_sceneitem_t *item = obs_scene_add(program, board);
		if (!frames_keep_coming(2))
			break;
		obs_sceneitem_remove(item);
		obs_source_release(board);
	}
	obs_wait_for_destroy_queue();
	const bool returned = worker.finish();
	EXPECT_EQ(made, 20) << "the host stopped rendering frames";
	ASSERT_TRUE(returned) << "the worker is stuck";
	std::fprintf(stderr, "threads: %d boards made and destroyed under %ld rounds of presses in %.2f s\n", made,
		     worker.rounds.load(), seconds_since(start));
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
