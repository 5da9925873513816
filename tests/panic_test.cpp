// SPDX-License-Identifier: GPL-2.0-or-later
// The panic switch: one hotkey hides every canvas's whole program, in any
// scene, with or without boards, and gives the picture back exactly.
#include <graphics/vec4.h>

#include <util/platform.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "harness/render_util.h"

namespace {

using rt::Rect;

obs_hotkey_id panic_hotkey()
{
	obs_hotkey_id found = OBS_INVALID_HOTKEY_ID;
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
		    if (std::strcmp(obs_hotkey_get_name(key), "MistPane.Panic") == 0)
			    *static_cast<obs_hotkey_id *>(data) = id;
		    return true;
	    },
	    &found);
	return found;
}

// As the frontend delivers it: routed, a press and a release. The switch
// itself runs on the graphics thread before its next frame.
void press_panic()
{
	obs_hotkey_enable_callback_rerouting(true);
	obs_hotkey_trigger_routed_callback(panic_hotkey(), true);
	obs_hotkey_trigger_routed_callback(panic_hotkey(), false);
	obs_hotkey_enable_callback_rerouting(false);
	harness::next_frames(2);
}

// The channel of the canvas that holds the module's cover, or -1.
int cover_channel(obs_canvas_t *canvas)
{
	for (int channel = MAX_CHANNELS - 1; channel >= 0; --channel) {
		obs_source_t *source = obs_canvas_get_channel(canvas, channel);
		const bool cover = source && std::strcmp(obs_source_get_id(source), "korvanta_blur_board") == 0;
		obs_source_release(source);
		if (cover)
			return channel;
	}
	return -1;
}

int main_cover_channel()
{
	obs_canvas_t *main_canvas = obs_get_main_canvas();
	const int channel = cover_channel(main_canvas);
	obs_canvas_release(main_canvas);
	return channel;
}

// Pairs of neighbouring pixels that differ: a mosaic of cells of c pixels
// leaves about 2 / c of them.
double differing_neighbours(const harness::Image &img)
{
	long differ = 0, pairs = 0;
	for (uint32_t y = 0; y + 1 < img.height; ++y)
		for (uint32_t x = 0; x + 1 < img.width; ++x) {
			const uint8_t *p = img.at(x, y), *r = img.at(x + 1, y), *d = img.at(x, y + 1);
			differ += std::memcmp(p, r, 3) != 0;
			differ += std::memcmp(p, d, 3) != 0;
			pairs += 2;
		}
	return pairs ? double(differ) / pairs : 0.0;
}

// Mean linear colour of the frame.
vec4 mean_linear(const harness::Image &img)
{
	double sum[3] = {0, 0, 0};
	for (uint32_t y = 0; y < img.height; ++y)
		for (uint32_t x = 0; x < img.width; ++x)
			for (int c = 0; c < 3; ++c)
				sum[c] += rt::to_linear(img.at(x, y)[c]);
	const double n = double(img.width) * img.height;
	vec4 mean;
	vec4_set(&mean, float(sum[0] / n), float(sum[1] / n), float(sum[2] / n), 1.0f);
	return mean;
}

// Covered: nothing of the picture's detail left over the whole frame, and
// its mean colour kept.
void expect_covered(const harness::Image &out, const harness::Image &picture, const std::string &what)
{
	ASSERT_EQ(out.width, picture.width) << what;
	const Rect all = {0, 0, int(out.width), int(out.height)};
	EXPECT_LT(rt::detail(out, all), 0.2 * rt::detail(picture, all)) << what;
	EXPECT_LT(differing_neighbours(out), 0.15) << what;
	const vec4 a = mean_linear(out), b = mean_linear(picture);
	for (int c = 0; c < 3; ++c)
		EXPECT_NEAR(a.ptr[c], b.ptr[c], 0.02) << what << " channel " << c;
}

// A program set up one way: what it shows without the cover.
struct ProgramCase {
	const char *what;
	std::function<void(rt::Stage &, std::function<void()> run)> arrange;
	const char *board_json;
};

TEST(Panic, CoversTheWholeProgramInEveryKindOfSceneAndGivesItBackExactly)
{
	ASSERT_TRUE(harness::load_stock_module("obs-transitions"));
	ASSERT_NE(panic_hotkey(), OBS_INVALID_HOTKEY_ID);
	auto straight = [](rt::Stage &stage, std::function<void()> run) {
		obs_set_output_source(0, stage.scene_source());
		run();
		obs_set_output_source(0, nullptr);
	};
	auto nested = [](rt::Stage &stage, std::function<void()> run) {
		obs_scene_t *outer = harness::make_scene("outer");
		obs_scene_add(outer, stage.scene_source());
		obs_set_output_source(0, obs_scene_get_source(outer));
		run();
		obs_set_output_source(0, nullptr);
		harness::release_scene(outer);
	};
	auto studio = [](obs_scene_duplicate_type type) {
		return [type](rt::Stage &stage, std::function<void()> run) {
			rt::StudioProgram program(stage.scene, type);
			run();
		};
	};
	const ProgramCase cases[] = {
	    {"a scene without a board", straight, ""},
	    {"a nested scene", nested, ""},
	    {"a scene whose board hides its area", straight, R"({"width": 200, "height": 120, "blur_radius": 20})"},
	    {"studio mode, duplicate scene", studio(OBS_SCENE_DUP_PRIVATE_REFS), ""},
	    {"studio mode, duplicate sources", studio(OBS_SCENE_DUP_PRIVATE_COPY),
	     R"({"width": 200, "height": 120, "blur_radius": 20})"},
	};
	const harness::Image picture = rt::pattern_image("detail");
	for (const ProgramCase &c : cases) {
		rt::Stage stage(c.board_json, "detail", 8, false);
		c.arrange(stage, [&] {
			const harness::Image before = harness::settled_frame(3);
			press_panic();
			expect_covered(harness::settled_frame(3), picture, c.what);
			EXPECT_GE(main_cover_channel(), 7) << c.what;
			press_panic();
			EXPECT_EQ(rt::max_diff(harness::settled_frame(3), before), 0) << c.what;
			EXPECT_EQ(main_cover_channel(), -1) << c.what << ": the channel is given back";
		});
	}
	EXPECT_EQ(harness::log_matching("panic cover on (hotkey)").size(), std::size(cases));
	EXPECT_EQ(harness::log_matching("panic cover off (hotkey)").size(), std::size(cases));
}

TEST(Panic, CoversOverABoardsOwnEmergencyCoverAndLeavesItOn)
{
	rt::Stage stage(R"({"width": 100, "height": 60, "emergency": true})", "detail");
	const harness::Image own = harness::settled_frame(3);
	press_panic();
	const harness::Image both = harness::settled_frame(3);
	expect_covered(both, rt::pattern_image("detail"), "both covers");
	press_panic();
	EXPECT_EQ(rt::max_diff(harness::settled_frame(3), own), 0) << "the board's own cover stays";
	EXPECT_TRUE(harness::board_of(stage.board)->emergency_applied.load());
}

TEST(Panic, SkipsChannelsThatAlreadyHoldASource)
{
	rt::Stage stage("", "detail");
	obs_source_t *other = harness::make_pattern("another plug-in's", 16, 16, "solid");
	obs_set_output_source(MAX_CHANNELS - 1, other);
	press_panic();
	EXPECT_EQ(main_cover_channel(), MAX_CHANNELS - 2);
	EXPECT_FALSE(harness::log_matching("output channel 62 of canvas").empty());
	press_panic();
	obs_source_t *kept = obs_get_output_source(MAX_CHANNELS - 1);
	EXPECT_EQ(kept, other) << "another source on a channel is never touched";
	obs_source_release(kept);
	obs_set_output_source(MAX_CHANNELS - 1, nullptr);
	obs_source_release(other);
}

// The frontend clears every channel of the main canvas when it loads a
// scene collection, also the one it restores at start, and shows the
// program before it reports that it has finished.
TEST(Panic, StaysThroughTheFrontendsClearOfEveryChannel)
{
	rt::Stage stage("", "detail");
	const harness::Image picture = rt::pattern_image("detail");
	press_panic();
	const int channel = main_cover_channel();
	for (uint32_t i = 0; i < MAX_CHANNELS; ++i)
		obs_set_output_source(i, nullptr);
	obs_set_output_source(0, stage.scene_source());
	EXPECT_EQ(main_cover_channel(), channel);
	expect_covered(harness::settled_frame(3), picture, "after the clear");
	press_panic();
	EXPECT_EQ(main_cover_channel(), -1);
	EXPECT_EQ(rt::max_diff(harness::settled_frame(3), picture), 0);
}

// A vertical canvas of its own with a scene of its own.
struct VerticalCanvas {
	static constexpr uint32_t kWidth = 360, kHeight = 640;
	obs_canvas_t *canvas = nullptr;
	obs_scene_t *scene = nullptr;
	obs_source_t *picture = nullptr;

	VerticalCanvas()
	{
		obs_video_info ovi;
		obs_get_video_info(&ovi);
		ovi.base_width = ovi.output_width = kWidth;
		ovi.base_height = ovi.output_height = kHeight;
		canvas = obs_canvas_create("vertical", &ovi, ACTIVATE | SCENE_REF);
		scene = obs_canvas_scene_create(canvas, "vertical scene");
		picture = harness::make_pattern("vertical picture", kWidth, kHeight, "detail");
		obs_scene_add(scene, picture);
		obs_canvas_set_channel(canvas, 0, obs_scene_get_source(scene));
	}
	~VerticalCanvas()
	{
		obs_canvas_set_channel(canvas, 0, nullptr);
		obs_canvas_scene_remove(scene);
		obs_scene_release(scene);
		obs_source_release(picture);
		obs_canvas_remove(canvas);
		obs_canvas_release(canvas);
		obs_wait_for_destroy_queue();
	}

	// The canvas's last frame, drawn one to one.
	harness::Image frame() const
	{
		harness::next_frames(3);
		return harness::render_image(kWidth, kHeight, [&] { obs_render_canvas_texture(canvas); });
	}
};

TEST(Panic, CoversASecondCanvasAndOneCreatedWhileOn)
{
	rt::Stage stage("", "detail");
	const harness::Image picture = rt::pattern_image("detail", 8);
	for (bool created_while_on : {false, true}) {
		const char *what = created_while_on ? "created while on" : "there before";
		if (created_while_on)
			press_panic();
		{
			VerticalCanvas vertical;
			const harness::Image reference = harness::render_view(vertical.picture, 360, 640);
			if (!created_while_on) {
				ASSERT_EQ(rt::max_diff(vertical.frame(), reference), 0);
				press_panic();
			}
			EXPECT_GE(cover_channel(vertical.canvas), 7) << what;
			expect_covered(vertical.frame(), reference, what);
			expect_covered(harness::settled_frame(3), picture, std::string(what) + ", main canvas");
			if (!created_while_on) {
				press_panic();
				EXPECT_EQ(rt::max_diff(vertical.frame(), reference), 0) << what;
				EXPECT_EQ(cover_channel(vertical.canvas), -1) << what;
			}
			// The canvas goes while the cover is on.
		}
		if (created_while_on)
			press_panic();
	}
	EXPECT_EQ(main_cover_channel(), -1);
}

// Runs of their own (ARGS in CMake) start the host with a config folder in
// which the state was left behind: as OBS quit while covered, or garbled.
const char *stored_state = nullptr; // the file's text before load
std::string state_file;

bool stored_on()
{
	obs_data_t *data = obs_data_create_from_json_file(state_file.c_str());
	const bool on = obs_data_get_bool(data, "on");
	obs_data_release(data);
	return on;
}

TEST(PanicRestored, AStreamCoveredWhenOBSQuitIsCoveredFromTheFirstFrame)
{
	if (!stored_state)
		GTEST_SKIP() << "runs with --was-on or --garbled";
	const bool garbled = std::strcmp(stored_state, "{\"on\": true}") != 0;
	EXPECT_EQ(harness::log_matching("panic cover on (restored at start)").size(), 1u);
	EXPECT_EQ(harness::log_matching("cannot be read; the panic cover stays on").size(), garbled ? 1u : 0u);
	rt::Stage stage("", "detail");
	const harness::Image picture = rt::pattern_image("detail");
	expect_covered(harness::settled_frame(3), picture, stored_state);
	press_panic();
	EXPECT_EQ(rt::max_diff(harness::settled_frame(3), picture), 0);
	EXPECT_FALSE(stored_on()) << "written on every change";
	press_panic();
	EXPECT_TRUE(stored_on());
}

} // namespace

// The last case: the module unloads while the cover is on. Every board it
// made is destroyed and every reference it took given back, with no leak.
int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	harness::HostOptions options;
	for (int i = 1; i < argc; ++i) {
		if (std::strcmp(argv[i], "--was-on") == 0)
			stored_state = "{\"on\": true}";
		else if (std::strcmp(argv[i], "--garbled") == 0)
			stored_state = "{\"on\": tr";
	}
	if (stored_state) {
		char folder[] = "/tmp/mistpane-panic-XXXXXX";
		if (!mkdtemp(folder))
			return 2;
		options.module_config_path = folder;
		const std::string module_folder = std::string(folder) + "/mistpane";
		os_mkdirs(module_folder.c_str());
		state_file = module_folder + "/panic.json";
		std::ofstream(state_file) << stored_state;
	}
	if (!harness::start(options))
		return 2;
	int result = RUN_ALL_TESTS();
	{
		rt::Stage stage("", "detail");
		press_panic();
		harness::settled_frame(3);
	}
	harness::clear_log();
	const long leaks = harness::stop();
	if (!options.module_config_path.empty())
		std::filesystem::remove_all(options.module_config_path);
	const bool balanced = harness::log_matching("reference imbalance").empty() &&
			      !harness::log_matching("every one given back").empty();
	if (!balanced || leaks != 0) {
		std::fprintf(stderr, "panic_test: FAILED, unloaded while on: %ld leaks, references %s\n", leaks,
			     balanced ? "balanced" : "not balanced");
		result = result ? result : 5;
	}
	return result;
}
