// SPDX-License-Identifier: GPL-2.0-or-later
// Wherever the host draws a board that should hide something, nothing of
// the picture beneath gets through: studio mode's private program scenes,
// a board whose place the scan no longer knows, and failed captures.
#include <dlfcn.h>

#include <atomic>
#include <cstring>

#include "render/texture_pool.h"
#include "harness/render_util.h"

namespace {

using rt::Rect;

const Rect kBoard = {100, 60, 300, 180};

// Detail left in the board's area, against the picture's own there.
double detail_left(const harness::Image &frame, Rect area = kBoard)
{
	const harness::Image picture = rt::pattern_image("detail");
	return rt::detail(frame, rt::inset(area, 4)) / rt::detail(picture, rt::inset(area, 4));
}

struct StudioCase {
	obs_scene_duplicate_type type;
	const char *what;
};

TEST(FailClosed, StudioModeProgramHidesWhereItsOwnItemIs)
{
	ASSERT_TRUE(harness::load_stock_module("obs-transitions"));
	for (const StudioCase &c : {StudioCase{OBS_SCENE_DUP_PRIVATE_REFS, "duplicate scene"},
				    StudioCase{OBS_SCENE_DUP_PRIVATE_COPY, "duplicate sources"}}) {
		rt::Stage stage(R"({"width": 200, "height": 120, "blur_radius": 20})", "detail", 8, false);
		stage.place(100, 60);
		rt::StudioProgram studio(stage.scene, c.type);
		const harness::Image before = harness::settled_frame(3);
		EXPECT_LT(detail_left(before), 0.3) << c.what;
		EXPECT_EQ(rt::max_diff(before, rt::pattern_image("detail"), {400, 0, 640, 360}), 0) << c.what;

		// The streamer moves the board in the preview: the program keeps
		// hiding its own place, with its own picture.
		stage.place(400, 200);
		const harness::Image moved = harness::settled_frame(3);
		EXPECT_LE(rt::max_diff(moved, before, kBoard), 2) << c.what;
		EXPECT_EQ(rt::max_diff(moved, rt::pattern_image("detail"), {400, 200, 600, 320}), 0) << c.what;

		// ...and removes it from the preview scene.
		obs_sceneitem_remove(stage.board_item);
		stage.board_item = nullptr;
		const harness::Image removed = harness::settled_frame(3);
		EXPECT_LE(rt::max_diff(removed, before, kBoard), 2) << c.what;
	}
}

// Host calls that can fail, made to fail from the test binary.
std::atomic<int> fail_create{0}, fail_begin{0};

} // namespace

extern "C" {
gs_texrender_t *gs_texrender_create(gs_color_format format, gs_zstencil_format zsformat)
{
	using fn = gs_texrender_t *(*)(gs_color_format, gs_zstencil_format);
	static fn real = (fn)dlsym(RTLD_NEXT, "gs_texrender_create");
	return fail_create.load() ? nullptr : real(format, zsformat);
}

bool gs_texrender_begin_with_color_space(gs_texrender_t *texrender, uint32_t cx, uint32_t cy, gs_color_space space)
{
	using fn = bool (*)(gs_texrender_t *, uint32_t, uint32_t, gs_color_space);
	static fn real = (fn)dlsym(RTLD_NEXT, "gs_texrender_begin_with_color_space");
	// The stage's scene draws no texture of the host's own.
	return fail_begin.load() ? false : real(texrender, cx, cy, space);
}
}

namespace {

struct FailureCase {
	std::atomic<int> *switch_;
	const char *settings;
	const char *cause;
	Rect hidden = kBoard; // what the stripes must cover
	Rect blurred = kBoard; // what the effect hides once it works again
};

TEST(FailClosed, AFailedCaptureCoversTheBoardOpaquely)
{
	for (const FailureCase &c :
	     {FailureCase{&fail_create, R"({"blur_radius": 20})",
			  "the texture for the region beneath could not be made"},
	      FailureCase{&fail_begin, R"({"mode": "mosaic"})", "the texture for the region beneath could not be made"},
	      // Inverted, it hides everything but its shape: all is covered.
	      FailureCase{&fail_create,
			  R"({"blur_radius": 20, "invert": true})",
			  "the texture for the region beneath could not be made",
			  {0, 0, 640, 360},
			  {400, 0, 640, 360}}}) {
		rt::Stage stage(R"({"width": 200, "height": 120})", "detail");
		stage.place(100, 60);
		stage.update(c.settings);
		rt::Stage::settle(3);
		// Fresh slots, so that creation is asked for again.
		obs_enter_graphics();
		destroy_slots(stage.record()->render->pool, 0, kPoolSlots - 1);
		obs_leave_graphics();
		harness::clear_log();
		c.switch_->store(1);
		const harness::Image covered = harness::settled_frame(3);
		c.switch_->store(0);
		// Opaque stripes: dark red and dark grey only, nothing beneath.
		long other = 0;
		for (int y = c.hidden.y0; y < c.hidden.y1; ++y)
			for (int x = c.hidden.x0; x < c.hidden.x1; ++x) {
				const uint8_t *p = covered.at(x, y);
				const bool red = std::abs(p[0] - 140) <= 2 && std::abs(p[1] - 10) <= 2;
				const bool grey = std::abs(p[0] - 31) <= 2 && std::abs(p[1] - 31) <= 2;
				other += !red && !grey;
			}
		EXPECT_LT(other, 200) << c.cause; // band edges only
		EXPECT_EQ(harness::log_matching(std::string("cannot show its effect (") + c.cause).size(), 1u)
		    << c.cause;
		// Working again the next frame.
		EXPECT_LT(detail_left(harness::settled_frame(3), c.blurred), 0.3) << c.cause;
	}
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
