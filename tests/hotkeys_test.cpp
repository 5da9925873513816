// SPDX-License-Identifier: GPL-2.0-or-later
// The board's two hotkeys, pressed through the host's hotkey machinery: by a
// key bound to them, and by the routed callback the OBS frontend uses.
#include <obs-module.h>
#include <obs-interaction.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/blur_board.h"
#include "harness/board.h"
#include "harness/host.h"

// One block that the host frees can be watched: it is kept instead of
// freed, with a copy of its first bytes, so that a test sees whether the
// host still writes to it afterwards. The module and libobs bind to this
// definition because the test binary exports it.
namespace {
std::atomic<void *> watched{nullptr};
std::atomic<void *> kept{nullptr};
unsigned char kept_copy[64];
} // namespace

extern "C" void bfree(void *ptr)
{
	using Free = void (*)(void *);
	static auto real = reinterpret_cast<Free>(dlsym(RTLD_NEXT, "bfree"));
	void *expected = ptr;
	if (ptr && watched.compare_exchange_strong(expected, nullptr)) {
		std::memcpy(kept_copy, ptr, sizeof(kept_copy));
		kept = ptr;
		return;
	}
	real(ptr);
}

namespace {

std::string text(const char *key)
{
	const char *out = nullptr;
	EXPECT_TRUE(obs_module_get_locale_string(harness::module(), key, &out)) << key;
	return out ? out : key;
}

struct Hotkey {
	obs_hotkey_id id;
	std::string name;
	std::string description;
};

// The hotkeys the host holds for a source, in the order of their ids.
std::vector<Hotkey> hotkeys_of(obs_source_t *source)
{
	struct Search {
		obs_source_t *source;
		std::vector<Hotkey> found;
	} search{source, {}};
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
		    auto *s = static_cast<Search *>(data);
		    if (obs_hotkey_get_registerer_type(key) == OBS_HOTKEY_REGISTERER_SOURCE &&
			obs_weak_source_references_source(
			    static_cast<obs_weak_source_t *>(obs_hotkey_get_registerer(key)), s->source))
			    s->found.push_back({id, obs_hotkey_get_name(key), obs_hotkey_get_description(key)});
		    return true;
	    },
	    &search);
	std::sort(search.found.begin(), search.found.end(),
		  [](const Hotkey &a, const Hotkey &b) { return a.id < b.id; });
	return search.found;
}

bool hotkey_exists(obs_hotkey_id wanted)
{
	std::pair<obs_hotkey_id, bool> search{wanted, false};
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id id, obs_hotkey_t *) {
		    auto *s = static_cast<std::pair<obs_hotkey_id, bool> *>(data);
		    s->second = s->second || id == s->first;
		    return true;
	    },
	    &search);
	return search.second;
}

size_t bindings_of(obs_hotkey_id wanted)
{
	std::pair<obs_hotkey_id, size_t> search{wanted, 0};
	obs_enum_hotkey_bindings(
	    [](void *data, size_t, obs_hotkey_binding_t *binding) {
		    auto *s = static_cast<std::pair<obs_hotkey_id, size_t> *>(data);
		    s->second += obs_hotkey_binding_get_hotkey_id(binding) == s->first;
		    return true;
	    },
	    &search);
	return search.second;
}

// The user values of the source's stored settings, as JSON.
std::string stored(obs_source_t *source)
{
	obs_data_t *settings = obs_source_get_settings(source);
	std::string json = obs_data_get_json(settings);
	obs_data_release(settings);
	return json;
}

bool stored_bool(obs_source_t *source, const char *key, bool *has_user_value = nullptr)
{
	obs_data_t *settings = obs_source_get_settings(source);
	const bool value = obs_data_get_bool(settings, key);
	if (has_user_value)
		*has_user_value = obs_data_has_user_value(settings, key);
	obs_data_release(settings);
	return value;
}

using harness::Board;

constexpr const char *kBoard = "hotkey board";

// The updates that reach a board (the host's "update" signal).
struct UpdateCount {
	obs_source_t *source;
	std::atomic<int> updates{0};

	explicit UpdateCount(obs_source_t *counted) : source(counted)
	{
		signal_handler_connect(obs_source_get_signal_handler(source), "update", count, this);
	}
	UpdateCount(const UpdateCount &) = delete;
	~UpdateCount() { signal_handler_disconnect(obs_source_get_signal_handler(source), "update", count, this); }

	static void count(void *data, calldata_t *) { ++static_cast<UpdateCount *>(data)->updates; }
};

// The frontend routes every hotkey event to its own thread and calls the
// hotkey from there; a test can take the router's place.
struct Routed {
	Routed() { obs_hotkey_enable_callback_rerouting(true); }
	~Routed() { obs_hotkey_enable_callback_rerouting(false); }
	void press(obs_hotkey_id id) const
	{
		obs_hotkey_trigger_routed_callback(id, true);
		obs_hotkey_trigger_routed_callback(id, false);
	}
};

void key(obs_key_t k, bool pressed, uint32_t modifiers = 0)
{
	obs_hotkey_inject_event(obs_key_combination_t{modifiers, k}, pressed);
}

TEST(Hotkeys, TwoPerBoardWithTheirNamesAndLocaleDescriptionsUntilDestroy)
{
	auto *board = new Board(kBoard);
	const std::vector<Hotkey> keys = hotkeys_of(board->source);
	ASSERT_EQ(keys.size(), 2u);
	EXPECT_EQ(keys[0].id, board->record()->toggle_hotkey);
	EXPECT_EQ(keys[0].name, "BlurBoard.Toggle");
	EXPECT_EQ(keys[0].description, text("Hotkey.Toggle"));
	EXPECT_EQ(keys[1].id, board->record()->emergency_hotkey);
	EXPECT_EQ(keys[1].name, "BlurBoard.Emergency");
	EXPECT_EQ(keys[1].description, text("Hotkey.Emergency"));

	obs_key_combination_t combo{0, OBS_KEY_F20};
	obs_hotkey_load_bindings(keys[0].id, &combo, 1);
	EXPECT_EQ(bindings_of(keys[0].id), 1u);

	delete board;
	// The release may not be the last one: the graphics thread holds every
	// source while it ticks, and then destroys it itself, a moment later.
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
	while ((hotkey_exists(keys[0].id) || hotkey_exists(keys[1].id)) &&
	       std::chrono::steady_clock::now() < deadline) {
		obs_wait_for_destroy_queue();
		harness::next_frames(1);
	}
	EXPECT_FALSE(hotkey_exists(keys[0].id));
	EXPECT_FALSE(hotkey_exists(keys[1].id));
	EXPECT_EQ(bindings_of(keys[0].id), 0u);
	// The key that was bound reaches nothing now.
	key(OBS_KEY_F20, true);
	key(OBS_KEY_F20, false);

	// The host gives a private source no hotkeys; such a board lives and
	// goes without them.
	obs_source_t *hidden = obs_source_create_private("korvanta_blur_board", "private board", nullptr);
	ASSERT_NE(hidden, nullptr);
	EXPECT_EQ(harness::board_of(hidden)->toggle_hotkey, OBS_INVALID_HOTKEY_ID);
	EXPECT_EQ(harness::board_of(hidden)->emergency_hotkey, OBS_INVALID_HOTKEY_ID);
	EXPECT_TRUE(hotkeys_of(hidden).empty());
	obs_source_release(hidden);
	obs_wait_for_destroy_queue();
}

// Bindings saved with a scene collection come back under the hotkeys' names
// and work from the first frame.
TEST(Hotkeys, SavedBindingsAreLoadedUnderTheNamesAndTheKeysWork)
{
	Board board(kBoard, R"({"fade_seconds": 0})", R"({"BlurBoard.Toggle": [{"key": "OBS_KEY_F13"}],
		"BlurBoard.Emergency": [{"key": "OBS_KEY_F14", "shift": true}]})");
	EXPECT_EQ(bindings_of(board.record()->toggle_hotkey), 1u);
	EXPECT_EQ(bindings_of(board.record()->emergency_hotkey), 1u);
	obs_data_t *saved = obs_hotkeys_save_source(board.source);
	obs_data_array_t *toggle = obs_data_get_array(saved, "BlurBoard.Toggle");
	obs_data_t *first = obs_data_array_item(toggle, 0);
	EXPECT_STREQ(obs_data_get_string(first, "key"), "OBS_KEY_F13");
	obs_data_release(first);
	obs_data_array_release(toggle);
	obs_data_release(saved);

	key(OBS_KEY_F13, true);
	EXPECT_FALSE(stored_bool(board.source, "enabled")) << "the press writes the setting at once";
	key(OBS_KEY_F13, false);
	harness::next_frames(2);
	EXPECT_FALSE(board.record()->enabled.load());

	key(OBS_KEY_F14, true); // without shift: not this binding
	key(OBS_KEY_F14, false);
	EXPECT_FALSE(stored_bool(board.source, "emergency"));
	key(OBS_KEY_F14, true, INTERACT_SHIFT_KEY);
	key(OBS_KEY_F14, false, INTERACT_SHIFT_KEY);
	EXPECT_TRUE(stored_bool(board.source, "emergency"));
	harness::next_frames(2);
	EXPECT_TRUE(board.record()->emergency_applied.load());
}

TEST(Hotkeys, TheTogglePressStoresEnabledFalseAndLeavesEveryOtherSetting)
{
	const char *settings = R"({"mode": "mosaic", "blur_radius": 42.5, "mosaic_size": 31.0, "strength": 80.0,
		"fade_seconds": 0.0, "width": 300, "height": 200, "emergency_size": 9.5, "shape": "ellipse",
		"feather": 12.0, "force_redraw": true})";
	Board board(kBoard, settings);
	const std::string before = stored(board.source);
	Routed routed;
	routed.press(board.record()->toggle_hotkey);

	obs_data_t *expected = harness::json(before.c_str());
	obs_data_set_bool(expected, "enabled", false);
	EXPECT_EQ(stored(board.source), obs_data_get_json(expected));
	obs_data_release(expected);

	harness::next_frames(2);
	BlurBoard *b = board.record();
	EXPECT_FALSE(b->enabled.load());
	{
		std::lock_guard<std::mutex> lock(b->mutex);
		EXPECT_TRUE(b->is_mosaic);
		EXPECT_EQ(b->blur_radius, 42.5f);
		EXPECT_EQ(b->mosaic_size, 31.0f);
		EXPECT_FLOAT_EQ(b->strength, 0.8f);
		EXPECT_EQ(b->emergency_size, 9.5f);
		EXPECT_EQ(b->shape.kind, ShapeKind::Ellipse);
		EXPECT_EQ(b->shape.feather, 12.0f);
		EXPECT_TRUE(b->force_redraw);
		EXPECT_FALSE(b->emergency);
	}
	EXPECT_EQ(b->width.load(), 300u);
	EXPECT_EQ(b->height.load(), 200u);

	// Opened now, the properties show the check box cleared: it reads the
	// stored settings.
	obs_data_t *shown = obs_source_get_settings(board.source);
	EXPECT_FALSE(obs_data_get_bool(shown, "enabled"));
	obs_data_release(shown);

	routed.press(board.record()->toggle_hotkey);
	harness::next_frames(2);
	EXPECT_TRUE(stored_bool(board.source, "enabled"));
	EXPECT_TRUE(b->enabled.load());
}

TEST(Hotkeys, TheEmergencyPressedTwiceWithTheUpdateBetweenEndsOff)
{
	Board board(kBoard);
	Routed routed;
	routed.press(board.record()->emergency_hotkey);
	harness::next_frames(2);
	EXPECT_TRUE(stored_bool(board.source, "emergency"));
	EXPECT_TRUE(board.record()->emergency_applied.load());
	{
		std::lock_guard<std::mutex> lock(board.record()->mutex);
		EXPECT_TRUE(board.record()->emergency);
	}
	routed.press(board.record()->emergency_hotkey);
	harness::next_frames(2);
	EXPECT_FALSE(stored_bool(board.source, "emergency"));
	EXPECT_FALSE(board.record()->emergency_applied.load());
	EXPECT_TRUE(board.record()->enabled.load()) << "the emergency hotkey leaves the effect alone";
}

TEST(Hotkeys, AReleaseDoesNothing)
{
	Board board(kBoard);
	const UpdateCount count(board.source);
	harness::next_frames(2);
	const int updates = count.updates.load();
	const std::string before = stored(board.source);
	{
		Routed routed;
		obs_hotkey_trigger_routed_callback(board.record()->toggle_hotkey, false);
		obs_hotkey_trigger_routed_callback(board.record()->emergency_hotkey, false);
	}
	obs_key_combination_t combo{0, OBS_KEY_F15};
	obs_hotkey_load_bindings(board.record()->toggle_hotkey, &combo, 1);
	key(OBS_KEY_F15, false);
	harness::next_frames(3);
	EXPECT_EQ(stored(board.source), before);
	EXPECT_EQ(count.updates.load(), updates) << "no update reached the board";
	EXPECT_TRUE(board.record()->enabled.load());
	EXPECT_FALSE(board.record()->emergency_applied.load());
}

// A press reads what the board last applied: two presses that both come
// before the host applies the first request ask for the same value.
TEST(Hotkeys, PressesBeforeTheUpdateIsAppliedRequestTheSameValue)
{
	Board board(kBoard);
	harness::next_frames(1);
	Routed routed;
	{
		// The board's update waits on its lock, so neither request is
		// applied before both were made.
		std::lock_guard<std::mutex> lock(board.record()->mutex);
		routed.press(board.record()->toggle_hotkey);
		routed.press(board.record()->toggle_hotkey);
		EXPECT_FALSE(stored_bool(board.source, "enabled"));
	}
	harness::next_frames(2);
	EXPECT_FALSE(board.record()->enabled.load());
	EXPECT_FALSE(stored_bool(board.source, "enabled"));
}

// The toggle goes through the same update as the check box, so the effect
// fades out over "fade_seconds" instead of vanishing.
TEST(Hotkeys, TheToggleFadesTheEffectOut)
{
	Board board(kBoard, R"({"fade_seconds": 2.0})");
	harness::next_frames(2);
	auto level = [&] {
		std::lock_guard<std::mutex> lock(board.record()->mutex);
		return board.record()->fade_level;
	};
	ASSERT_EQ(level(), 1.0f);
	Routed routed;
	routed.press(board.record()->toggle_hotkey);
	harness::next_frames(4);
	const float early = level();
	EXPECT_LT(early, 1.0f);
	EXPECT_GT(early, 0.5f) << "a 2 s fade is not over after a few frames";
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
	while (level() > 0.0f && std::chrono::steady_clock::now() < deadline)
		harness::next_frames(5);
	EXPECT_EQ(level(), 0.0f);
}

// A board destroyed while one of its keys is held down: the host must not
// touch the hotkey after freeing it (libobs releases held bindings in
// unregister after the free unless the board let go of them first).
TEST(Hotkeys, AKeyHeldWhileItsBoardGoesIsLetGoFirst)
{
	int written_after_free = 0, watched_frees = 0;
	for (int round = 0; round < 10; ++round) {
		auto *board = new Board(kBoard);
		const obs_hotkey_id id = board->record()->toggle_hotkey;
		obs_key_combination_t combo{0, OBS_KEY_F21};
		obs_hotkey_load_bindings(id, &combo, 1);
		std::pair<obs_hotkey_id, obs_hotkey_t *> search{id, nullptr};
		obs_enum_hotkeys(
		    [](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
			    auto *s = static_cast<std::pair<obs_hotkey_id, obs_hotkey_t *> *>(data);
			    if (id == s->first)
				    s->second = key;
			    return true;
		    },
		    &search);
		ASSERT_NE(search.second, nullptr);
		watched = search.second;
		// Held: the host's key poll lets go of it within 25 ms, so the
		// board goes at once.
		key(OBS_KEY_F21, true);
		delete board;
		const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
		while (hotkey_exists(id) && std::chrono::steady_clock::now() < deadline)
			obs_wait_for_destroy_queue();
		// Unregister has returned once the hotkey is gone from the list.
		EXPECT_FALSE(hotkey_exists(id));
		key(OBS_KEY_F21, false);
		watched = nullptr;
		if (void *block = kept.exchange(nullptr)) {
			++watched_frees;
			written_after_free += std::memcmp(block, kept_copy, sizeof(kept_copy)) != 0;
			bfree(block);
		}
	}
	EXPECT_EQ(watched_frees, 10);
	EXPECT_EQ(written_after_free, 0) << "the host wrote to a freed hotkey";
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
