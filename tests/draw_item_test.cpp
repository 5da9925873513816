// SPDX-License-Identifier: GPL-2.0-or-later
// The redraw of one item beneath a board: the technique as the host's
// video levels choose it, and real redraws compared with what the host
// itself draws for the same items (the filter and blend choices as plain
// rules: unit/draw_item_rules_test).
#include <obs.h>
#include <graphics/matrix4.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/blur_board.h"
#include "harness/host.h"
#include "harness/scene.h"
#include "render/beneath_scan.h"
#include "render/board_effect.h"
#include "render/board_render.h"
#include "render/draw_item.h"
#include "render/texture_pool.h"

namespace {

// --- The technique ------------------------------------------------------------

struct Levels {
	float saved_white = obs_get_video_sdr_white_level();
	float saved_peak = obs_get_video_hdr_nominal_peak_level();
	explicit Levels(float white) { obs_set_video_levels(white, saved_peak); }
	~Levels() { obs_set_video_levels(saved_white, saved_peak); }
};

void expect_technique(gs_color_space target, gs_color_space source, bool upscale, const char *name, float mul)
{
	const DrawTechnique t = select_draw_technique(target, source, upscale);
	EXPECT_STREQ(t.name, name) << "target " << target << " source " << source << " upscale " << upscale;
	EXPECT_FLOAT_EQ(t.multiplier, mul) << "target " << target << " source " << source;
}

TEST(DrawTechnique, FollowsTheColourSpacesAndTheWhiteLevel)
{
	Levels levels(300.0f);
	const gs_color_space sdr[] = {GS_CS_SRGB, GS_CS_SRGB_16F};
	for (gs_color_space target : sdr) {
		for (gs_color_space source : sdr)
			expect_technique(target, source, false, "Draw", 1.0f);
		expect_technique(target, GS_CS_709_EXTENDED, false, "DrawTonemap", 1.0f);
		expect_technique(target, GS_CS_709_SCRGB, false, "DrawMultiplyTonemap", 80.0f / 300.0f);
		expect_technique(GS_CS_709_EXTENDED, target, false, "Draw", 1.0f);
		expect_technique(GS_CS_709_SCRGB, target, false, "DrawMultiply", 3.75f);
	}
	expect_technique(GS_CS_709_EXTENDED, GS_CS_709_EXTENDED, false, "Draw", 1.0f);
	expect_technique(GS_CS_709_SCRGB, GS_CS_709_EXTENDED, false, "DrawMultiply", 3.75f);
	expect_technique(GS_CS_709_EXTENDED, GS_CS_709_SCRGB, false, "DrawMultiply", 80.0f / 300.0f);
	expect_technique(GS_CS_709_SCRGB, GS_CS_709_SCRGB, false, "Draw", 1.0f);

	// Upscale only renames, the multiplier stays.
	expect_technique(GS_CS_SRGB, GS_CS_SRGB, true, "DrawUpscale", 1.0f);
	expect_technique(GS_CS_709_SCRGB, GS_CS_SRGB, true, "DrawUpscaleMultiply", 3.75f);
	expect_technique(GS_CS_SRGB_16F, GS_CS_709_EXTENDED, true, "DrawUpscaleTonemap", 1.0f);
	expect_technique(GS_CS_SRGB, GS_CS_709_SCRGB, true, "DrawUpscaleMultiplyTonemap", 80.0f / 300.0f);

	// The area filter's upscale picks the upscale draw.
	EXPECT_STREQ(
	    select_draw_technique(GS_CS_SRGB, GS_CS_SRGB, select_item_filter(OBS_SCALE_AREA, 2.0f, 1.0f).upscale).name,
	    "DrawUpscale");
	EXPECT_STREQ(
	    select_draw_technique(GS_CS_SRGB, GS_CS_SRGB, select_item_filter(OBS_SCALE_AREA, 0.75f, 1.0f).upscale).name,
	    "Draw");

	Levels brighter(160.0f);
	expect_technique(GS_CS_709_SCRGB, GS_CS_SRGB, false, "DrawMultiply", 2.0f);
	expect_technique(GS_CS_SRGB, GS_CS_709_SCRGB, false, "DrawMultiplyTonemap", 0.5f);
}

// Every name the rule can give exists in the host's effects that use it.
TEST(DrawTechnique, NamesExistInTheHostsEffects)
{
	const gs_color_space spaces[] = {GS_CS_SRGB, GS_CS_SRGB_16F, GS_CS_709_EXTENDED, GS_CS_709_SCRGB};
	obs_enter_graphics();
	for (gs_color_space target : spaces) {
		for (gs_color_space source : spaces) {
			const char *plain = select_draw_technique(target, source, false).name;
			for (obs_base_effect e : {OBS_EFFECT_DEFAULT, OBS_EFFECT_BICUBIC, OBS_EFFECT_LANCZOS,
						  OBS_EFFECT_BILINEAR_LOWRES, OBS_EFFECT_AREA})
				EXPECT_NE(gs_effect_get_technique(obs_get_base_effect(e), plain), nullptr)
				    << plain << " in effect " << e;
			const char *up = select_draw_technique(target, source, true).name;
			EXPECT_NE(gs_effect_get_technique(obs_get_base_effect(OBS_EFFECT_AREA), up), nullptr) << up;
		}
	}
	obs_leave_graphics();
}

// --- Real redraws -------------------------------------------------------------

constexpr uint32_t kW = 640, kH = 360;

using harness::Scene;

obs_sceneitem_t *background(const Scene &scene)
{
	static int count = 0;
	const std::string name = "background " + std::to_string(++count);
	return scene.adopt(harness::make_pattern(name.c_str(), kW, kH, "gradient"));
}

obs_sceneitem_t *pattern(const Scene &scene, const char *name, uint32_t w, uint32_t h, const char *kind, float x,
			 float y, float sx = 1.0f, float sy = 1.0f, float rot = 0.0f)
{
	obs_sceneitem_t *item = scene.adopt(harness::make_pattern(name, w, h, kind, 6));
	const vec2 pos = {x, y}, scale = {sx, sy};
	obs_sceneitem_set_pos(item, &pos);
	obs_sceneitem_set_scale(item, &scale);
	obs_sceneitem_set_rot(item, rot);
	return item;
}

struct CaptureRect {
	int x0 = 0, y0 = 0;
	uint32_t width = 640, height = 384; // multiples of 64, the canvas and some
};

// A board record of our own: only its scratch slots are used here. The
// module's effect (and its point sampler) is loaded into this binary's own
// copy of the internals by main.
struct RedrawFixture : ::testing::Test {
	BlurBoard board;
	std::vector<bool> via_texture;

	void SetUp() override { board.render = board_render_create(); }
	void TearDown() override { board_render_destroy(board.render); }

	// Collects the scene's items as the capture does and draws them again
	// into a target of the capture rectangle, with the capture's projection
	// and blend state, then reads the target back.
	harness::Image redraw(const Scene &scene, CaptureRect rect = {})
	{
		BeneathScan scan;
		scan_beneath(scene.source(), scan);
		EXPECT_FALSE(scan.found);
		via_texture.clear();
		for (const BeneathItem &item : scan.items)
			via_texture.push_back(item.via_texture);

		harness::Image image;
		obs_enter_graphics();
		gs_texrender_t *target = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
		gs_stagesurf_t *stage = gs_stagesurface_create(rect.width, rect.height, GS_RGBA);
		if (target && stage &&
		    gs_texrender_begin_with_color_space(target, rect.width, rect.height, GS_CS_SRGB)) {
			vec4 clear_color;
			vec4_zero(&clear_color);
			gs_clear(GS_CLEAR_COLOR, &clear_color, 0.0f, 0);
			gs_ortho((float)rect.x0, (float)(rect.x0 + (int)rect.width), (float)rect.y0,
				 (float)(rect.y0 + (int)rect.height), -100.0f, 100.0f);
			gs_blend_state_push();
			gs_reset_blend_state();
			for (const BeneathItem &item : scan.items) {
				matrix4 before, after;
				gs_matrix_get(&before);
				const bool linear = gs_get_linear_srgb();
				const bool fb_srgb = gs_framebuffer_srgb_enabled();
				draw_beneath_item(&board, item);
				gs_matrix_get(&after);
				EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
				EXPECT_EQ(gs_get_linear_srgb(), linear);
				EXPECT_EQ(gs_framebuffer_srgb_enabled(), fb_srgb);
			}
			gs_blend_state_pop();
			gs_texrender_end(target);

			gs_stage_texture(stage, gs_texrender_get_texture(target));
			uint8_t *data = nullptr;
			uint32_t linesize = 0;
			if (gs_stagesurface_map(stage, &data, &linesize)) {
				image.width = rect.width;
				image.height = rect.height;
				image.rgba.resize(size_t(rect.width) * rect.height * 4);
				for (uint32_t y = 0; y < rect.height; ++y)
					std::memcpy(&image.rgba[size_t(y) * rect.width * 4],
						    data + size_t(y) * linesize, size_t(rect.width) * 4);
				gs_stagesurface_unmap(stage);
			}
		}
		gs_stagesurface_destroy(stage);
		gs_texrender_destroy(target);
		obs_leave_graphics();
		release_beneath_items(scan.items);
		return image;
	}
};

struct Difference {
	int max = 0;
	size_t over = 0; // pixels with a channel off by more than the tolerance
	size_t compared = 0;
	size_t drawn = 0; // pixels of ours that are not transparent black
};

// Ours at (x, y) against the host's canvas pixel (x0 + x, y0 + y).
Difference compare(const harness::Image &ours, const harness::Image &host, CaptureRect rect, int tolerance)
{
	Difference d;
	for (uint32_t y = 0; y < ours.height; ++y) {
		for (uint32_t x = 0; x < ours.width; ++x) {
			const int cx = rect.x0 + (int)x, cy = rect.y0 + (int)y;
			const uint8_t *a = ours.at(x, y);
			if (a[0] || a[1] || a[2] || a[3])
				++d.drawn;
			if (cx < 0 || cy < 0 || cx >= (int)host.width || cy >= (int)host.height)
				continue;
			const uint8_t *b = host.at((uint32_t)cx, (uint32_t)cy);
			int worst = 0;
			for (int c = 0; c < 4; ++c)
				worst = std::max(worst, std::abs((int)a[c] - (int)b[c]));
			d.max = std::max(d.max, worst);
			d.over += worst > tolerance;
			++d.compared;
		}
	}
	return d;
}

// Tolerance: one 8-bit level for rounding between the two renders; in
// practice both draw the same texels with the same effects.
constexpr int kTolerance = 1;

void expect_same(const harness::Image &ours, const harness::Image &host, CaptureRect rect = {}, size_t min_drawn = 1000)
{
	ASSERT_FALSE(ours.empty());
	ASSERT_FALSE(host.empty());
	const Difference d = compare(ours, host, rect, kTolerance);
	EXPECT_EQ(d.over, 0u) << "max channel difference " << d.max << " over " << d.compared << " pixels";
	EXPECT_GE(d.drawn, min_drawn);
}

TEST_F(RedrawFixture, DirectItemsMatchTheHostAnywhereInTheCaptureRectangle)
{
	Scene s("direct");
	background(s);
	pattern(s, "checker", 100, 80, "checker", 37.5f, 21.0f, 1.3f, 1.3f, 15.0f);
	const harness::Image host = s.view(kW, kH);
	expect_same(redraw(s), host);
	EXPECT_EQ(via_texture, (std::vector<bool>{false, false}));
	EXPECT_EQ(board.render->pool.slots[kSlotItem8], nullptr); // no scratch target needed

	const CaptureRect offset{128, 64, 256, 192};
	expect_same(redraw(s, offset), host, offset);
}

TEST_F(RedrawFixture, CroppedItemsMatchTheHost)
{
	Scene s("cropped");
	background(s);
	obs_sceneitem_t *item = pattern(s, "cropped checker", 100, 80, "detail", 200.0f, 100.0f, 1.5f, 1.5f);
	const obs_sceneitem_crop crop = {5, 7, 11, 3};
	obs_sceneitem_set_crop(item, &crop);
	obs_sceneitem_t *flipped = pattern(s, "flipped", 90, 70, "detail", 500.0f, 200.0f, -1.0f, 1.0f, 10.0f);
	obs_sceneitem_set_crop(flipped, &crop);
	const harness::Image host = s.view(kW, kH);
	expect_same(redraw(s), host);
	EXPECT_EQ(via_texture, (std::vector<bool>{false, true, true}));
	ASSERT_NE(board.render->pool.slots[kSlotItem8], nullptr);
	EXPECT_EQ(gs_texrender_get_format(board.render->pool.slots[kSlotItem8]), GS_RGBA);
	EXPECT_EQ(board.render->pool.slots[kSlotItem16F], nullptr);

	// Items of two sizes drawn again keep their scratch textures.
	auto textures = [&] {
		std::vector<gs_texture_t *> t;
		for (int i = 0; i < kItemSlots; ++i)
			t.push_back(board.render->pool.slots[kSlotItem8 + i]
					? gs_texrender_get_texture(board.render->pool.slots[kSlotItem8 + i])
					: nullptr);
		return t;
	};
	const std::vector<gs_texture_t *> first = textures();
	EXPECT_NE(first[1], nullptr);
	expect_same(redraw(s), host);
	EXPECT_EQ(textures(), first);
}

TEST_F(RedrawFixture, ScaleFiltersMatchTheHost)
{
	const obs_scale_type filters[] = {OBS_SCALE_POINT, OBS_SCALE_BICUBIC, OBS_SCALE_BILINEAR, OBS_SCALE_LANCZOS,
					  OBS_SCALE_AREA};
	// Top-left corners a little off the pixel grid (0.37), so that no pixel
	// centre falls exactly on a texel edge, where point sampling could go
	// either way.
	// Sizes differ, so that each item's base dimensions must really be set.
	struct Placed {
		float x, y, sx, sy;
		uint32_t w, h;
	};
	const Placed placed[] = {
	    {10.37f, 20.37f, 2.3f, 2.3f, 96, 72},    {240.37f, 20.37f, 2.0f, 1.0f, 90, 64},
	    {440.37f, 20.37f, 0.6f, 0.7f, 100, 80},  {510.37f, 20.37f, 0.3f, 0.45f, 120, 90},
	    {250.37f, 200.37f, -1.4f, 1.2f, 88, 70}, {450.37f, 200.37f, 1.0f, 1.0f, 96, 72},
	};
	for (obs_scale_type filter : filters) {
		Scene s("filters");
		background(s);
		int n = 0;
		for (const Placed &p : placed) {
			const std::string name = "filtered " + std::to_string(n++);
			// A flipped item extends to the left of its position.
			const float x = p.sx < 0.0f ? p.x + (float)p.w * -p.sx : p.x;
			obs_sceneitem_t *item = pattern(s, name.c_str(), p.w, p.h, "detail", x, p.y, p.sx, p.sy);
			obs_sceneitem_set_scale_filter(item, filter);
		}
		SCOPED_TRACE(testing::Message() << "filter " << filter);
		const harness::Image host = s.view(kW, kH);
		// Point sampling picks a whole texel, and Mesa's software rasterizer
		// lands some rows of a scaled item on the neighbouring texel when the
		// target is 384 rather than 360 pixels high (the same quad, only the
		// projection's rounding differs). Compared in a target of the host
		// view's own size then; every other filter in the capture's.
		const CaptureRect rect = filter == OBS_SCALE_POINT ? CaptureRect{0, 0, kW, kH} : CaptureRect{};
		expect_same(redraw(s, rect), host, rect);
		std::vector<bool> expected(std::size(placed) + 1, true);
		expected[0] = false; // the background
		EXPECT_EQ(via_texture, expected);
	}
}

TEST_F(RedrawFixture, BlendingModesMatchTheHost)
{
	for (int mode = OBS_BLEND_NORMAL; mode <= OBS_BLEND_DARKEN; ++mode) {
		Scene s("blending");
		background(s);
		pattern(s, "under", 200, 160, "checker", 150.0f, 60.0f);
		obs_sceneitem_t *item = pattern(s, "blended", 200, 160, "detail", 220.0f, 120.0f, 1.0f, 1.0f, 8.0f);
		obs_sceneitem_set_blending_mode(item, (obs_blending_type)mode);
		SCOPED_TRACE(testing::Message() << "blending mode " << mode);
		const harness::Image host = s.view(kW, kH);
		expect_same(redraw(s), host);
		EXPECT_EQ(via_texture.back(), mode != OBS_BLEND_NORMAL);
	}
}

TEST_F(RedrawFixture, TheSrgbOffMethodMatchesTheHostAndIsNotTheDefault)
{
	harness::Image with_method[2];
	for (obs_blending_method method : {OBS_BLEND_METHOD_DEFAULT, OBS_BLEND_METHOD_SRGB_OFF}) {
		Scene s("srgb off");
		background(s);
		obs_sceneitem_t *item = pattern(s, method ? "gamma srgb off" : "gamma default", 120, 90, "checker",
						100.0f, 80.0f, 1.37f, 1.37f);
		obs_sceneitem_set_blending_method(item, method);
		obs_sceneitem_set_blending_mode(item, OBS_BLEND_ADDITIVE);
		obs_sceneitem_set_scale_filter(item, OBS_SCALE_BILINEAR);
		SCOPED_TRACE(testing::Message() << "method " << method);
		const harness::Image host = s.view(kW, kH);
		with_method[method] = redraw(s);
		expect_same(with_method[method], host);
	}
	// Blending in gamma space instead of linear light changes the picture.
	const Difference d = compare(with_method[0], with_method[1], {}, 8);
	EXPECT_GT(d.over, 1000u);
}

TEST_F(RedrawFixture, NestedScenesAndGroupsMatchTheHost)
{
	Scene nested("nested");
	nested.adopt(harness::make_pattern("nested back", 320, 180, "gradient"));
	pattern(nested, "nested front", 100, 100, "detail", 60.0f, 30.0f, 1.0f, 1.0f, 30.0f);

	Scene s("outer");
	background(s);
	obs_sceneitem_t *nested_item = obs_scene_add(s.scene, nested.source());
	const vec2 pos = {300.0f, 150.0f}, scale = {0.8f, 0.8f};
	obs_sceneitem_set_pos(nested_item, &pos);
	obs_sceneitem_set_scale(nested_item, &scale);

	obs_sceneitem_t *a = pattern(s, "grouped a", 80, 60, "checker", 20.0f, 200.0f);
	obs_sceneitem_t *b = pattern(s, "grouped b", 80, 60, "detail", 70.0f, 230.0f, 1.0f, 1.0f, 20.0f);
	obs_sceneitem_t *members[] = {a, b};
	obs_sceneitem_t *group = obs_scene_insert_group(s.scene, "group", members, 2);
	ASSERT_NE(group, nullptr);
	obs_sceneitem_set_rot(group, -10.0f);

	const harness::Image host = s.view(kW, kH);
	expect_same(redraw(s), host);
	EXPECT_EQ(via_texture, (std::vector<bool>{false, true, false}));
}

TEST_F(RedrawFixture, AnItemFadingOutIsDrawnThroughItsTransition)
{
	Scene s("fading");
	background(s);
	obs_sceneitem_t *item = pattern(s, "fading item", 160, 120, "detail", 200.0f, 100.0f, 1.2f, 1.2f, 5.0f);
	obs_source_t *fade = obs_source_create_private("fade_transition", "item fade", nullptr);
	ASSERT_NE(fade, nullptr);
	obs_sceneitem_set_transition(item, false, fade);
	obs_sceneitem_set_transition_duration(item, false, 1500);
	obs_source_release(fade);
	const harness::Image whole = s.view(kW, kH);
	obs_sceneitem_set_visible(item, false);
	obs_source_t *hide = obs_sceneitem_get_transition(item, false);

	// The transition's time follows the host's video frame time: wait until
	// it is about half way, and compare two renders made in the same frame.
	for (int i = 0; i < 300 && obs_transition_get_time(hide) < 0.3f; ++i)
		harness::next_frames(1);
	harness::Image host, ours;
	bool same_frame = false;
	for (int attempt = 0; attempt < 10 && !same_frame; ++attempt) {
		// Both inside one hold of the graphics context, back to back.
		obs_enter_graphics();
		const uint64_t frame = obs_get_video_frame_time();
		host = harness::render_view(s.source(), kW, kH);
		ours = redraw(s);
		same_frame = obs_get_video_frame_time() == frame;
		obs_leave_graphics();
	}
	ASSERT_TRUE(same_frame);
	EXPECT_LT(obs_transition_get_time(hide), 0.9f);
	expect_same(ours, host);
	EXPECT_EQ(via_texture.size(), 2u);

	// Half faded: neither the whole item nor the picture without it.
	for (int i = 0; i < 300 && obs_transition_get_time(hide) < 1.0f; ++i)
		harness::next_frames(1);
	const harness::Image gone = s.view(kW, kH);
	EXPECT_GT(compare(ours, whole, {}, 8).over, 5000u);
	EXPECT_GT(compare(ours, gone, {}, 8).over, 5000u);
	EXPECT_GT(compare(whole, gone, {}, 8).over, 5000u);
}

TEST_F(RedrawFixture, ItemsWithNothingToShowDrawNothing)
{
	Scene s("nothing");
	obs_sceneitem_t *empty = s.adopt(harness::make_pattern("empty", 0, 0));
	const obs_sceneitem_crop crop = {1, 0, 0, 0};
	obs_sceneitem_set_crop(empty, &crop);
	obs_sceneitem_t *cropped_away = pattern(s, "cropped away", 100, 80, "checker", 10.0f, 10.0f);
	const obs_sceneitem_crop all = {50, 0, 50, 0};
	obs_sceneitem_set_crop(cropped_away, &all);
	s.view(kW, kH);
	const harness::Image ours = redraw(s);
	EXPECT_EQ(via_texture, (std::vector<bool>{true, true}));
	const Difference d = compare(ours, ours, {}, 0);
	EXPECT_EQ(d.drawn, 0u);
}

// The effect lives in graphics memory: made after the host starts, gone
// before it stops.
struct EffectEnvironment : ::testing::Environment {
	void SetUp() override { ASSERT_TRUE(board_effect_load()); }
	void TearDown() override { board_effect_unload(); }
};

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	options.before_module_load = [] {
		if (!harness::load_stock_module("obs-transitions"))
			std::fprintf(stderr, "cannot load obs-transitions\n");
	};
	::testing::AddGlobalTestEnvironment(new EffectEnvironment);
	return harness::run_tests(argc, argv, options);
}
