// SPDX-License-Identifier: GPL-2.0-or-later
// The panic switch: one hotkey hides every canvas's whole program, in any
// scene, with or without boards, and gives the picture back exactly.
#include <graphics/vec4.h>

#include <obs-websocket-api.h>
#include <util/platform.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "panic/cover_settings.h"
#include "panic/look.h"
#include "harness/render_util.h"

namespace {

using rt::Rect;

obs_hotkey_id panic_hotkey()
{
	return harness::hotkey_named("MistPane.Panic");
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

// What the cover shows, as last set through the Tools menu's dialog: a
// source of the cover settings' type, updated as the dialog updates it.
PanicLook shown_look;

void set_look(const PanicLook &look)
{
	obs_source_t *settings = obs_source_create_private(kPanicCoverTypeId, "panic cover settings", nullptr);
	obs_data_t *data = obs_data_create();
	panic_look_write(data, look);
	obs_source_update(settings, data);
	obs_data_release(data);
	obs_source_release(settings);
	shown_look = look;
}

PanicLook look_of(PanicStyle style, uint32_t color = PanicLook{}.cover_color, const char *image = "")
{
	return PanicLook{style, color, image};
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

// Every pixel the cover's colour (0xAABBGGRR): nothing of the picture.
void expect_plain_cover(const harness::Image &out, uint32_t color, const std::string &what)
{
	const int want[3] = {int(color & 0xff), int((color >> 8) & 0xff), int((color >> 16) & 0xff)};
	int worst = 0;
	for (uint32_t y = 0; y < out.height; ++y)
		for (uint32_t x = 0; x < out.width; ++x)
			for (int c = 0; c < 3; ++c)
				worst = std::max(worst, std::abs(out.at(x, y)[c] - want[c]));
	EXPECT_FALSE(out.empty()) << what;
	EXPECT_LE(worst, 1) << what;
}

// Hidden as the look last set says.
void expect_hidden(const harness::Image &out, const harness::Image &picture, const std::string &what)
{
	if (shown_look.style == PanicStyle::Mosaic)
		expect_covered(out, picture, what);
	else
		expect_plain_cover(out, shown_look.cover_color, what);
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
	for (PanicStyle style : {PanicStyle::Cover, PanicStyle::Mosaic}) {
		set_look(look_of(style));
		for (const ProgramCase &c : cases) {
			const std::string what = std::string(c.what) + ", style " + panic_style_name(style);
			rt::Stage stage(c.board_json, "detail", 8, false);
			c.arrange(stage, [&] {
				const harness::Image before = harness::settled_frame(3);
				press_panic();
				expect_hidden(harness::settled_frame(3), picture, what);
				EXPECT_GE(main_cover_channel(), 7) << what;
				press_panic();
				EXPECT_EQ(rt::max_diff(harness::settled_frame(3), before), 0) << what;
				EXPECT_EQ(main_cover_channel(), -1) << what << ": the channel is given back";
			});
		}
	}
	set_look(PanicLook{});
	EXPECT_EQ(harness::log_matching("panic cover on (hotkey)").size(), 2 * std::size(cases));
	EXPECT_EQ(harness::log_matching("panic cover off (hotkey)").size(), 2 * std::size(cases));
}

// A 32 x 18 picture, white on the left half and black on the right, as a
// 24-bit BMP.
std::string write_halves_bmp()
{
	const std::string path = std::filesystem::temp_directory_path() / "mistpane-panic-brb.bmp";
	constexpr uint32_t w = 32, h = 18, row = w * 3, size = 54 + row * h;
	uint8_t header[54] = {'B', 'M'};
	auto put = [&](int at, uint32_t v, int bytes) {
		for (int i = 0; i < bytes; ++i)
			header[at + i] = uint8_t(v >> (8 * i));
	};
	put(2, size, 4), put(10, 54, 4), put(14, 40, 4), put(18, w, 4), put(22, h, 4), put(26, 1, 2), put(28, 24, 2);
	std::ofstream out(path, std::ios::binary);
	out.write(reinterpret_cast<const char *>(header), sizeof(header));
	for (uint32_t y = 0; y < h; ++y)
		for (uint32_t x = 0; x < w; ++x) {
			const char v = x < w / 2 ? char(255) : char(0);
			out.write(std::string(3, v).data(), 3);
		}
	return path;
}

// The cover owes nothing to the program: two different scenes beneath give
// the very same frame.
TEST(Panic, CoverStyleShowsTheSameFrameOverDifferentScenes)
{
	const std::string brb = write_halves_bmp();
	struct CoverCase {
		const char *what;
		PanicLook look;
		bool picture;
	};
	const CoverCase cases[] = {
	    {"the default colour", look_of(PanicStyle::Cover), false},
	    {"a colour of its own", look_of(PanicStyle::Cover, 0xFF2040C0), false},
	    {"a picture", look_of(PanicStyle::Cover, 0xFF2040C0, brb.c_str()), true},
	    {"a picture that cannot be read", look_of(PanicStyle::Cover, 0xFF2040C0, "/nonexistent/brb.png"), false},
	};
	rt::Stage first("", "detail");
	rt::Stage second("", "gradient", 8, false);
	for (const CoverCase &c : cases) {
		set_look(c.look);
		press_panic();
		const harness::Image over_first = harness::settled_frame(3);
		obs_set_output_source(0, second.scene_source());
		const harness::Image over_second = harness::settled_frame(3);
		obs_set_output_source(0, first.scene_source());
		press_panic();
		EXPECT_EQ(rt::max_diff(over_first, over_second), 0) << c.what;
		if (!c.picture) {
			expect_plain_cover(over_first, c.look.cover_color, c.what);
			continue;
		}
		const uint32_t w = over_first.width, h = over_first.height;
		EXPECT_GE(over_first.at(w / 4, h / 2)[1], 247) << c.what << ": the picture's white half";
		EXPECT_LE(over_first.at(3 * w / 4, h / 2)[1], 8) << c.what << ": the picture's black half";
	}
	set_look(PanicLook{});
	std::filesystem::remove(brb);
}

TEST(Panic, CoversOverABoardsOwnEmergencyCoverAndLeavesItOn)
{
	rt::Stage stage(R"({"width": 100, "height": 60, "emergency": true})", "detail");
	const harness::Image own = harness::settled_frame(3);
	press_panic();
	const harness::Image both = harness::settled_frame(3);
	expect_hidden(both, rt::pattern_image("detail"), "both covers");
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
	expect_hidden(harness::settled_frame(3), picture, "after the clear");
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
			expect_hidden(vertical.frame(), reference, what);
			expect_hidden(harness::settled_frame(3), picture, std::string(what) + ", main canvas");
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

// A new style while on: every canvas shows it from the next frame, on the
// same channel.
TEST(Panic, ANewStyleWhileOnReCoversEveryCanvasAtOnce)
{
	rt::Stage stage("", "detail");
	const harness::Image picture = rt::pattern_image("detail");
	press_panic();
	VerticalCanvas vertical;
	const harness::Image reference = harness::render_view(vertical.picture, 360, 640);
	const int channel = main_cover_channel();
	const PanicLook looks[] = {look_of(PanicStyle::Mosaic), look_of(PanicStyle::Cover, 0xFF2040C0),
				   look_of(PanicStyle::Cover)};
	for (const PanicLook &look : looks) {
		set_look(look);
		const std::string what = std::string("style ") + panic_style_name(look.style);
		expect_hidden(harness::settled_frame(3), picture, what);
		expect_hidden(vertical.frame(), reference, what + ", vertical canvas");
		EXPECT_EQ(main_cover_channel(), channel) << what;
	}
	press_panic();
	EXPECT_EQ(rt::max_diff(harness::settled_frame(3), picture), 0);
}

// obs-websocket's side of its interface for plug-ins (obs-websocket-api.h),
// which OBS Studio's obs-websocket serves: vendors, their requests and
// their events. The module meets it at post-load, as in OBS Studio; the
// real one needs the frontend's Qt (the soak drives it in OBS).
struct Websocket {
	proc_handler_t *procs = proc_handler_create();
	std::map<std::string, obs_websocket_request_callback> requests;
	std::vector<std::string> events; // "type json"

	Websocket()
	{
		proc_handler_add(obs_get_proc_handler(), "bool obs_websocket_api_get_ph(out ptr ph)", get_ph, this);
		proc_handler_add(procs, "bool vendor_register(in string name, out ptr vendor)", vendor_register, this);
		proc_handler_add(procs,
				 "bool vendor_request_register(in ptr vendor, in string type, in ptr callback, "
				 "out bool success)",
				 request_register, this);
		proc_handler_add(procs,
				 "bool vendor_event_emit(in ptr vendor, in string type, in ptr data, out bool success)",
				 event_emit, this);
	}
	~Websocket() { proc_handler_destroy(procs); }

	static void get_ph(void *self, calldata_t *cd)
	{
		calldata_set_ptr(cd, "ph", static_cast<Websocket *>(self)->procs);
	}
	static void vendor_register(void *self, calldata_t *cd) { calldata_set_ptr(cd, "vendor", self); }
	static void request_register(void *self, calldata_t *cd)
	{
		auto *callback = static_cast<obs_websocket_request_callback *>(calldata_ptr(cd, "callback"));
		static_cast<Websocket *>(self)->requests[calldata_string(cd, "type")] = *callback;
		calldata_set_bool(cd, "success", true);
	}
	static void event_emit(void *self, calldata_t *cd)
	{
		auto *data = static_cast<obs_data_t *>(calldata_ptr(cd, "data"));
		static_cast<Websocket *>(self)->events.push_back(std::string(calldata_string(cd, "type")) + " " +
								 obs_data_get_json(data));
		calldata_set_bool(cd, "success", true);
	}

	// A vendor request as a client sends it: the answer's JSON.
	std::string call(const char *type, const char *request_json)
	{
		auto found = requests.find(type);
		if (found == requests.end())
			return "(not registered)";
		obs_data_t *request = obs_data_create_from_json(request_json);
		obs_data_t *response = obs_data_create();
		found->second.callback(request, response, found->second.priv_data);
		std::string answer = obs_data_get_json(response);
		obs_data_release(request);
		obs_data_release(response);
		answer.erase(std::remove_if(answer.begin(), answer.end(), ::isspace), answer.end());
		return answer;
	}
};
Websocket *websocket = nullptr;

// SetPanic with a style or without (as clients from before the style send
// it): a wrong field changes nothing and says so.
TEST(PanicRemote, SetPanicTakesAStyleAndRefusesAWrongOne)
{
	ASSERT_TRUE(websocket && websocket->requests.count("SetPanic"));
	rt::Stage stage("", "detail");
	struct RequestCase {
		const char *request;
		const char *answer; // "" for a refusal
	};
	const RequestCase cases[] = {
	    {R"({"on": true, "style": "blue"})", ""},
	    {R"({"on": true, "style": 1})", ""},
	    {R"({"on": "yes", "style": "mosaic"})", ""},
	    {R"({})", ""},
	    {R"({"style": "mosaic"})", R"({"on":false,"style":"mosaic"})"},
	    {R"({"on": true})", R"({"on":true,"style":"mosaic"})"},
	    {R"({"style": "Cover"})", ""},
	    {R"({"on": true, "style": "cover"})", R"({"on":true,"style":"cover"})"},
	    {R"({"on": false, "style": "mosaic"})", R"({"on":false,"style":"mosaic"})"},
	    {R"({"on": false, "style": "cover"})", R"({"on":false,"style":"cover"})"},
	};
	std::string state = websocket->call("GetPanic", "{}");
	EXPECT_EQ(state, R"({"on":false,"style":"cover"})");
	for (const RequestCase &c : cases) {
		const size_t events = websocket->events.size();
		const int channel = main_cover_channel();
		const std::string answer = websocket->call("SetPanic", c.request);
		if (!*c.answer) {
			EXPECT_NE(answer.find("\"error\":"), std::string::npos) << c.request << ": " << answer;
			EXPECT_EQ(answer.find("\"on\""), std::string::npos) << c.request;
			EXPECT_EQ(websocket->call("GetPanic", "{}"), state) << c.request << " changed the state";
			EXPECT_EQ(websocket->events.size(), events) << c.request;
			EXPECT_EQ(main_cover_channel(), channel) << c.request;
			continue;
		}
		EXPECT_EQ(answer, c.answer) << c.request;
		EXPECT_EQ(websocket->call("GetPanic", "{}"), c.answer) << c.request;
		ASSERT_GT(websocket->events.size(), events) << c.request;
		EXPECT_EQ(websocket->events.back(), std::string("PanicChanged ") + c.answer) << c.request;
		state = c.answer;
	}
	shown_look = PanicLook{};
}

// Runs of their own (ARGS in CMake) start the host with a config folder in
// which the state was left behind: as OBS quit while covered, by this
// version or by one from before the style (whose file has none), or
// garbled.
struct StoredCase {
	const char *flag;
	const char *text;
	PanicStyle style; // as restored
	bool readable;
};
const StoredCase stored_cases[] = {
    {"--was-on", R"({"on": true})", PanicStyle::Cover, true},
    {"--was-on-mosaic", R"({"on": true, "style": "mosaic", "cover_color": 4280295456, "cover_image": ""})",
     PanicStyle::Mosaic, true},
    {"--garbled", R"({"on": tr)", PanicStyle::Cover, false},
};
const StoredCase *stored = nullptr;
std::string state_file;

// "on" and "style" as the file holds them now.
std::string stored_state()
{
	obs_data_t *data = obs_data_create_from_json_file(state_file.c_str());
	std::string state =
	    std::string(obs_data_get_bool(data, "on") ? "on " : "off ") + obs_data_get_string(data, "style");
	obs_data_release(data);
	return state;
}

TEST(PanicRestored, AStreamCoveredWhenOBSQuitIsCoveredTheSameWayFromTheFirstFrame)
{
	if (!stored)
		GTEST_SKIP() << "runs with --was-on, --was-on-mosaic or --garbled";
	const std::string style = panic_style_name(stored->style);
	EXPECT_EQ(harness::log_matching("panic cover on (restored at start)").size(), 1u);
	EXPECT_EQ(harness::log_matching("cannot be read; the panic cover stays on").size(), stored->readable ? 0u : 1u);
	shown_look = look_of(stored->style);
	rt::Stage stage("", "detail");
	const harness::Image picture = rt::pattern_image("detail");
	expect_hidden(harness::settled_frame(3), picture, stored->text);
	press_panic();
	EXPECT_EQ(rt::max_diff(harness::settled_frame(3), picture), 0);
	EXPECT_EQ(stored_state(), "off " + style) << "written on every change";
	press_panic();
	EXPECT_EQ(stored_state(), "on " + style);
	const PanicStyle other = stored->style == PanicStyle::Cover ? PanicStyle::Mosaic : PanicStyle::Cover;
	set_look(look_of(other));
	EXPECT_EQ(stored_state(), std::string("on ") + panic_style_name(other));
}

} // namespace

// The last case: the module unloads while the cover is on. Every board it
// made is destroyed and every reference it took given back, with no leak.
int main(int argc, char **argv)
{
	::testing::InitGoogleTest(&argc, argv);
	harness::HostOptions options;
	for (int i = 1; i < argc; ++i)
		for (const StoredCase &c : stored_cases)
			if (std::strcmp(argv[i], c.flag) == 0)
				stored = &c;
	if (stored) {
		char folder[] = "/tmp/mistpane-panic-XXXXXX";
		if (!mkdtemp(folder))
			return 2;
		options.module_config_path = folder;
		const std::string module_folder = std::string(folder) + "/mistpane";
		os_mkdirs(module_folder.c_str());
		state_file = module_folder + "/panic.json";
		std::ofstream(state_file) << stored->text;
	}
	if (!harness::start(options))
		return 2;
	// Before post-load, as obs-websocket loads before it in OBS Studio.
	websocket = new Websocket;
	obs_post_load_modules();
	int result = RUN_ALL_TESTS();
	{
		rt::Stage stage("", "detail");
		press_panic();
		harness::settled_frame(3);
	}
	harness::clear_log();
	// The module's vendor is gone once it unloads.
	delete websocket;
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
