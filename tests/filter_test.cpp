// SPDX-License-Identifier: GPL-2.0-or-later
// The "MistPane: Hide" filter in the real host: the source it is on stays
// hidden in every scene and view it is drawn in, nothing outside its
// region changes, its shapes match the mask computed here, moving text
// inside it cannot be read back, and a failed capture covers opaquely.
#include <dlfcn.h>

#include <atomic>
#include <cmath>

#include "filter/filter_draw.h"
#include "filter/hide_filter.h"
#include "harness/leak.h"
#include "harness/render_util.h"

namespace {

using rt::Rect;

// Host calls that can fail, made to fail from the test binary.
std::atomic<int> fail_create{0};

struct Filtered {
	obs_source_t *picture = nullptr;
	obs_source_t *filter = nullptr;

	Filtered(const char *kind, const char *settings, uint32_t w, uint32_t h)
	{
		picture = harness::make_pattern("filtered picture", w, h, kind);
		obs_data_t *data = harness::json(settings);
		filter = obs_source_create("mistpane_hide_filter", "hide", data, nullptr);
		obs_data_release(data);
		obs_source_filter_add(picture, filter);
	}
	~Filtered()
	{
		obs_source_filter_remove(picture, filter);
		obs_source_release(filter);
		obs_source_release(picture);
		obs_wait_for_destroy_queue();
	}
	HideFilter *record() const { return static_cast<HideFilter *>(obs_obj_get_data(filter)); }
};

// The largest colour difference outside a hole.
int max_diff_outside(const harness::Image &a, const harness::Image &b, Rect hole)
{
	int d = 0;
	for (uint32_t y = 0; y < a.height; ++y)
		for (uint32_t x = 0; x < a.width; ++x)
			if (int(x) < hole.x0 || int(x) >= hole.x1 || int(y) < hole.y0 || int(y) >= hole.y1)
				d = std::max(d, rt::channel_diff(a, b, x, y));
	return d;
}

Rect grown(Rect r, int by)
{
	return {r.x0 - by, r.y0 - by, r.x1 + by, r.y1 + by};
}

double detail_left(const harness::Image &frame, const harness::Image &plain, Rect area)
{
	return rt::detail(frame, rt::inset(area, 4)) / rt::detail(plain, rt::inset(area, 4));
}

obs_sceneitem_t *add_at(obs_scene_t *scene, obs_source_t *source, float x, float y, float scale = 1.0f)
{
	obs_sceneitem_t *item = obs_scene_add(scene, source);
	vec2 pos, sc;
	vec2_set(&pos, x, y);
	vec2_set(&sc, scale, scale);
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_scale(item, &sc);
	return item;
}

const Rect kRegion = {100, 60, 300, 180}; // in the picture's own pixels

TEST(Filter, HidesTheRegionInEveryViewAndNothingElse)
{
	ASSERT_TRUE(harness::load_stock_module("obs-transitions"));
	const auto size = rt::Stage::host_size();
	const harness::Image plain = rt::pattern_image("detail");
	Filtered f("detail", R"({"blur_radius": 20, "region_x": 100, "region_y": 60, "region_width": 200,
		"region_height": 120})",
		   size.w, size.h);
	obs_scene_t *scene = harness::make_scene("filter scene");
	obs_sceneitem_t *item = add_at(scene, f.picture, 0, 0);
	obs_scene_t *other = harness::make_scene("other scene");
	add_at(other, f.picture, 0, 0);
	obs_scene_t *outer = harness::make_scene("outer scene");
	add_at(outer, obs_scene_get_source(scene), 0, 0);

	struct View {
		const char *what;
		obs_source_t *output;
		float dx, dy;
	};
	for (const View &v : {View{"scene", obs_scene_get_source(scene), 0, 0},
			      View{"scene moved", obs_scene_get_source(scene), 40, 20},
			      View{"second scene", obs_scene_get_source(other), 0, 0},
			      View{"nested scene", obs_scene_get_source(outer), 0, 0}}) {
		vec2 pos;
		vec2_set(&pos, v.dx, v.dy);
		obs_sceneitem_set_pos(item, &pos);
		obs_set_output_source(0, v.output);
		const harness::Image frame = harness::settled_frame(3);
		const Rect hole = {kRegion.x0 + int(v.dx), kRegion.y0 + int(v.dy), kRegion.x1 + int(v.dx),
				   kRegion.y1 + int(v.dy)};
		harness::Image expected = plain;
		if (v.dx != 0 || v.dy != 0)
			expected = harness::render_view(f.picture, size.w, size.h, 1.0f, v.dx, v.dy);
		EXPECT_LT(detail_left(frame, plain, hole), 0.3) << v.what;
		EXPECT_LE(max_diff_outside(frame, expected, hole), 1) << v.what;
	}
	// A projector drawing the scene at half size, and studio mode's copies.
	const harness::Image half = harness::render_view(obs_scene_get_source(other), size.w, size.h, 0.5f, 50, 30);
	EXPECT_LT(rt::detail(half, {105, 65, 195, 115}) / rt::detail(plain, {105, 65, 195, 115}), 0.5);
	obs_set_output_source(0, nullptr);
	for (obs_scene_duplicate_type type : {OBS_SCENE_DUP_PRIVATE_REFS, OBS_SCENE_DUP_PRIVATE_COPY}) {
		rt::StudioProgram studio(other, type);
		const harness::Image frame = harness::settled_frame(3);
		EXPECT_LT(detail_left(frame, plain, kRegion), 0.3) << "studio mode " << int(type);
	}
	harness::release_scene(outer);
	harness::release_scene(other);
	harness::release_scene(scene);
}

TEST(Filter, InvertedItHidesAllOfTheSourceButTheRegion)
{
	struct Case {
		const char *what;
		const char *settings;
		uint32_t w, h;
		float x, y, scale;
		Rect region, outside; // on the canvas
	};
	for (const Case &c : {Case{"rectangle",
				   R"({"region_x": 100, "region_y": 60, "region_width": 200,
			       "region_height": 120})",
				   640,
				   360,
				   0,
				   0,
				   1.0f,
				   kRegion,
				   {340, 40, 620, 340}},
			      Case{"rounded, on a larger source drawn smaller",
				   R"({"shape": "rounded", "corner_radius": 40, "region_x": 1180, "region_y": 560,
			       "region_width": 380, "region_height": 360})",
				   1920,
				   1080,
				   0,
				   0,
				   1.0f / 3,
				   {400, 190, 513, 306},
				   {40, 20, 360, 170}},
			      Case{"rounded, moved",
				   R"({"shape": "rounded", "corner_radius": 40, "region_x": 1180, "region_y": 560,
			       "region_width": 380, "region_height": 360})",
				   1920,
				   1080,
				   -700,
				   -380,
				   0.75f,
				   {185, 40, 470, 310},
				   {10, 10, 170, 350}}}) {
		Filtered f("detail", R"({"blur_radius": 30, "invert": true})", c.w, c.h);
		rt::update_source(f.filter, c.settings);
		obs_scene_t *scene = harness::make_scene("inverted scene");
		add_at(scene, f.picture, c.x, c.y, c.scale);
		obs_set_output_source(0, obs_scene_get_source(scene));
		obs_source_set_enabled(f.filter, false);
		const harness::Image plain = harness::settled_frame(3);
		obs_source_set_enabled(f.filter, true);
		const harness::Image frame = harness::settled_frame(3);
		EXPECT_LE(rt::max_diff(frame, plain, rt::inset(c.region, 12)), 2) << c.what << ": the region as it is";
		EXPECT_LT(detail_left(frame, plain, c.outside), 0.3) << c.what;
		obs_set_output_source(0, nullptr);
		harness::release_scene(scene);
	}
}

// A camera or a media file: frames the source is handed, not drawn.
const obs_source_info kAsyncInfo = {
    .id = "filter_test_async",
    .type = OBS_SOURCE_TYPE_INPUT,
    .output_flags = OBS_SOURCE_ASYNC_VIDEO,
    .get_name = [](void *) { return "async"; },
    .create = [](obs_data_t *, obs_source_t *source) -> void * { return source; },
    .destroy = [](void *) {},
};

TEST(Filter, HidesAnAsyncSource)
{
	obs_register_source(&kAsyncInfo);
	const auto size = rt::Stage::host_size();
	const harness::Image plain = rt::pattern_image("detail");
	obs_source_t *camera = obs_source_create("filter_test_async", "camera", nullptr, nullptr);
	obs_source_frame frame{};
	frame.data[0] = const_cast<uint8_t *>(plain.rgba.data());
	frame.linesize[0] = size.w * 4;
	frame.width = size.w;
	frame.height = size.h;
	frame.format = VIDEO_FORMAT_RGBA;
	frame.full_range = true;
	obs_source_output_video(camera, &frame);
	obs_data_t *data = harness::json(R"({"mode": "mosaic", "region_x": 100, "region_y": 60,
		"region_width": 200, "region_height": 120})");
	obs_source_t *filter = obs_source_create("mistpane_hide_filter", "hide camera", data, nullptr);
	obs_data_release(data);
	obs_source_filter_add(camera, filter);
	obs_scene_t *scene = harness::make_scene("camera scene");
	add_at(scene, camera, 0, 0);
	obs_set_output_source(0, obs_scene_get_source(scene));
	const harness::Image shown = harness::settled_frame(3);
	EXPECT_LT(detail_left(shown, plain, kRegion), 0.3);
	EXPECT_LE(max_diff_outside(shown, plain, kRegion), 2);
	obs_set_output_source(0, nullptr);
	harness::release_scene(scene);
	obs_source_filter_remove(camera, filter);
	obs_source_release(filter);
	obs_source_release(camera);
	obs_wait_for_destroy_queue();
}

// The shader's mask, as its text computes it, for a pixel centre p of the
// region's frame.
enum class Kind { Rect, Rounded, Ellipse };

double mask_at(double px, double py, double w, double h, Kind kind, double feather, double corner = 0,
	       bool invert = false)
{
	const double cx = w / 2, cy = h / 2, rx = std::max(w / 2, 0.5), ry = std::max(h / 2, 0.5);
	double d;
	if (kind == Kind::Rounded) {
		const double r = std::min(corner, std::min(w, h) / 2);
		const double qx = std::fabs(px - cx) - (rx - r), qy = std::fabs(py - cy) - (ry - r);
		d = -(std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - r);
	} else if (kind == Kind::Ellipse) {
		const double qx = (px - cx) / rx, qy = (py - cy) / ry;
		const double k0 = std::hypot(qx, qy), k1 = std::hypot(qx / rx, qy / ry);
		d = k0 < 0.0001 ? std::min(rx, ry) : k0 * (1 - k0) / k1;
	} else {
		d = std::min(rx - std::fabs(px - cx), ry - std::fabs(py - cy));
	}
	const double f = std::min(feather, std::min(w, h) / 2);
	const double m = std::clamp(f > 0 ? d / f : d + 0.5, 0.0, 1.0);
	return invert ? 1 - m : m;
}

uint8_t to_srgb8(double linear)
{
	const double v = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
	return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

TEST(Filter, ShapesMatchTheirMask)
{
	struct Case {
		const char *what;
		const char *settings;
		Kind kind;
		double feather;
		double corner = 0;
		bool invert = false;
	};
	const auto size = rt::Stage::host_size();
	const harness::Image plain = rt::pattern_image("gradient");
	for (const Case &c :
	     {Case{"rectangle", R"({"shape": "rect"})", Kind::Rect, 0},
	      Case{"ellipse", R"({"shape": "ellipse"})", Kind::Ellipse, 0},
	      Case{"feathered ellipse", R"({"shape": "ellipse", "feather": 20})", Kind::Ellipse, 20},
	      Case{"feathered rectangle", R"({"shape": "rect", "feather": 12})", Kind::Rect, 12},
	      Case{"rounded", R"({"shape": "rounded", "corner_radius": 30})", Kind::Rounded, 0, 30},
	      Case{"rounded, feathered", R"({"shape": "rounded", "corner_radius": 40, "feather": 10})", Kind::Rounded,
		   10, 40},
	      Case{"inverted rectangle", R"({"shape": "rect", "invert": true})", Kind::Rect, 0, 0, true},
	      Case{"inverted rounded", R"({"shape": "rounded", "corner_radius": 30, "invert": true})", Kind::Rounded, 0,
		   30, true}}) {
		Filtered f("gradient", R"({"mode": "cover", "cover_color": 4278190335, "region_x": 100,
			"region_y": 60, "region_width": 200, "region_height": 120})",
			   size.w, size.h);
		rt::update_source(f.filter, c.settings);
		obs_scene_t *scene = harness::make_scene("shape scene");
		add_at(scene, f.picture, 0, 0);
		obs_set_output_source(0, obs_scene_get_source(scene));
		const harness::Image frame = harness::settled_frame(3);
		int worst = 0;
		for (uint32_t y = 0; y < frame.height; ++y)
			for (uint32_t x = 0; x < frame.width; ++x) {
				const double m = mask_at(x + 0.5 - kRegion.x0, y + 0.5 - kRegion.y0, 200, 120, c.kind,
							 c.feather, c.corner, c.invert);
				const uint8_t *p = plain.at(x, y), *q = frame.at(x, y);
				const double cover[3] = {1.0, 0.0, 0.0}; // 0xFF0000FF: red
				for (int ch = 0; ch < 3; ++ch) {
					const double mixed = rt::to_linear(p[ch]) * (1 - m) + cover[ch] * m;
					worst = std::max(worst, std::abs(int(q[ch]) - int(to_srgb8(mixed))));
				}
			}
		EXPECT_LE(worst, 2) << c.what;
		obs_set_output_source(0, nullptr);
		harness::release_scene(scene);
	}
}

// The text moves inside the source (a scene of its own, filtered), one
// pixel a frame: the mosaic's cells, anchored to the source's pixels, give
// none of its fine detail back.
TEST(Filter, TextMovingInsideTheSourceGivesNoDetailBack)
{
	const auto size = rt::Stage::host_size();
	const harness::Image text = rt::pattern_image("text");
	obs_source_t *words = harness::make_pattern("words", size.w, size.h, "text");
	obs_scene_t *inner = harness::make_scene("inner");
	obs_sceneitem_t *words_item = add_at(inner, words, 0, 0);
	obs_data_t *data = harness::json(R"({"mode": "mosaic", "mosaic_size": 24})");
	obs_source_t *filter = obs_source_create("mistpane_hide_filter", "hide text", data, nullptr);
	obs_data_release(data);
	obs_source_filter_add(obs_scene_get_source(inner), filter);
	obs_scene_t *outer = harness::make_scene("outer");
	add_at(outer, obs_scene_get_source(inner), 0, 0);
	obs_set_output_source(0, obs_scene_get_source(outer));
	std::vector<harness::Image> frames;
	for (int s = 0; s < 24; ++s) {
		vec2 pos;
		vec2_set(&pos, float(s), 0.0f);
		obs_sceneitem_set_pos(words_item, &pos);
		frames.push_back(harness::settled_frame());
	}
	const double leak = harness::motion_leak(frames, text, {64, 48, 576, 336}, 24);
	EXPECT_LT(leak, 0.05);
	EXPECT_GT(leak, -0.05);
	obs_set_output_source(0, nullptr);
	obs_source_filter_remove(obs_scene_get_source(inner), filter);
	obs_source_release(filter);
	harness::release_scene(outer);
	harness::release_scene(inner);
	obs_source_release(words);
}

TEST(Filter, ListsTheBoardsHidingControlsAndTheRegionAndClampsIt)
{
	obs_properties_t *props = obs_get_source_properties("mistpane_hide_filter");
	std::vector<std::string> keys;
	for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p))
		keys.push_back(obs_property_name(p));
	obs_properties_destroy(props);
	ASSERT_FALSE(keys.empty());
	EXPECT_EQ(keys.front(), "help");
	for (const char *key : {"mode", "blur_radius", "mosaic_size", "shape", "feather", "strength", "enabled",
				"fade_seconds", "cover_color", "region_x", "region_y", "region_width", "region_height"})
		EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
	EXPECT_EQ(std::find(keys.begin(), keys.end(), "width"), keys.end()) << "a filter has its source's size";

	struct Case {
		const char *settings;
		SourceRegion region;
	};
	for (const Case &c :
	     {Case{"{}", {0, 0, 0, 0}},
	      Case{R"({"region_x": -5, "region_y": 7, "region_width": 99999, "region_height": 3})", {0, 7, 16384, 3}},
	      Case{R"({"region_x": "12", "region_width": 1e30})", {0, 0, 16384, 0}}}) {
		Filtered f("solid", c.settings, 64, 64);
		const SourceRegion r = f.record()->region;
		EXPECT_EQ(r.x, c.region.x) << c.settings;
		EXPECT_EQ(r.y, c.region.y) << c.settings;
		EXPECT_EQ(r.width, c.region.width) << c.settings;
		EXPECT_EQ(r.height, c.region.height) << c.settings;
	}
}

TEST(Filter, HotkeyOnItsSourceSwitchesHidingThroughTheSettings)
{
	Filtered f("detail", R"({"fade_seconds": 0})", 320, 180);
	const obs_hotkey_id id = harness::hotkey_named("MistPaneHide.Toggle.hide");
	ASSERT_NE(id, OBS_INVALID_HOTKEY_ID);
	obs_hotkey_enable_callback_rerouting(true);
	for (bool expected : {false, true}) {
		obs_hotkey_trigger_routed_callback(id, true);
		obs_hotkey_trigger_routed_callback(id, false);
		rt::Stage::settle(2); // the host applies the update at its next tick
		obs_data_t *settings = obs_source_get_settings(f.filter);
		EXPECT_EQ(obs_data_get_bool(settings, "enabled"), expected);
		obs_data_release(settings);
	}
	obs_hotkey_enable_callback_rerouting(false);
	obs_source_filter_remove(f.picture, f.filter);
	EXPECT_EQ(harness::hotkey_named("MistPaneHide.Toggle.hide"), OBS_INVALID_HOTKEY_ID) << "gone with the filter";
	obs_source_filter_add(f.picture, f.filter);
}

TEST(Filter, AFailedCaptureCoversTheRegionOpaquely)
{
	const auto size = rt::Stage::host_size();
	Filtered f("detail", R"({"region_x": 100, "region_y": 60, "region_width": 200, "region_height": 120})", size.w,
		   size.h);
	obs_scene_t *scene = harness::make_scene("failing scene");
	add_at(scene, f.picture, 0, 0);
	obs_set_output_source(0, obs_scene_get_source(scene));
	rt::Stage::settle(3);
	obs_enter_graphics();
	destroy_slots(f.record()->render->pool, 0, kPoolSlots - 1);
	obs_leave_graphics();
	harness::clear_log();
	fail_create.store(1);
	const harness::Image covered = harness::settled_frame(3);
	fail_create.store(0);
	long other = 0;
	for (int y = kRegion.y0; y < kRegion.y1; ++y)
		for (int x = kRegion.x0; x < kRegion.x1; ++x) {
			const uint8_t *p = covered.at(x, y);
			const bool red = std::abs(p[0] - 140) <= 2 && std::abs(p[1] - 10) <= 2;
			const bool grey = std::abs(p[0] - 31) <= 2 && std::abs(p[1] - 31) <= 2;
			other += !red && !grey;
		}
	EXPECT_LT(other, 200); // band edges only
	EXPECT_EQ(harness::log_matching("filter 'hide' cannot show its effect").size(), 1u);
	obs_set_output_source(0, nullptr);
	harness::release_scene(scene);
}

} // namespace

extern "C" gs_texrender_t *gs_texrender_create(gs_color_format format, gs_zstencil_format zsformat)
{
	using fn = gs_texrender_t *(*)(gs_color_format, gs_zstencil_format);
	static fn real = (fn)dlsym(RTLD_NEXT, "gs_texrender_create");
	return fail_create.load() ? nullptr : real(format, zsformat);
}

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
