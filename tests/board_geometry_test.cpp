// SPDX-License-Identifier: GPL-2.0-or-later
// The pixels a board changes are exactly its visible area on the canvas,
// for rotated, scaled, flipped, cropped and bounded items. The area is
// computed here from the item's settings, not from the host's transform.
#include <functional>

#include "harness/render_util.h"

namespace {

// Over a one-pixel checker any blurred pixel moves far from 0 or 255.
constexpr int kChanged = 40;

struct Quad {
	vec2 origin, du, dv; // canvas parallelogram of the visible area
};

Quad axis_rect(float x0, float y0, float x1, float y1)
{
	Quad q;
	vec2_set(&q.origin, x0, y0);
	vec2_set(&q.du, x1 - x0, 0.0f);
	vec2_set(&q.dv, 0.0f, y1 - y0);
	return q;
}

// Every pixel whose centre lies more than 0.6 pixels inside the area must
// have changed, every one more than 0.6 outside must be untouched.
void expect_area(const harness::Image &out, const Quad &q, const std::string &what)
{
	const harness::Image ref = rt::pattern_image("checker", 1);
	long inside = 0, wrong_in = 0, wrong_out = 0;
	for (uint32_t y = 0; y < out.height; ++y)
		for (uint32_t x = 0; x < out.width; ++x) {
			const int d = rt::channel_diff(out, ref, x, y);
			if (rt::inside_quad(float(x), float(y), q.origin, q.du, q.dv, 0.6f)) {
				++inside;
				wrong_in += d <= kChanged;
			} else if (!rt::inside_quad(float(x), float(y), q.origin, q.du, q.dv, -0.6f)) {
				wrong_out += d != 0;
			}
		}
	EXPECT_GT(inside, 1000) << what;
	EXPECT_EQ(wrong_in, 0) << what;
	EXPECT_EQ(wrong_out, 0) << what;
}

struct Fixture {
	rt::Stage stage{R"({"width": 200, "height": 150, "blur_radius": 40})", "checker", 1};

	harness::Image frame() { return harness::settled_frame(); }
	void transform(float x, float y, float rot, float sx, float sy)
	{
		stage.place(x, y);
		obs_sceneitem_set_rot(stage.board_item, rot);
		vec2 scale;
		vec2_set(&scale, sx, sy);
		obs_sceneitem_set_scale(stage.board_item, &scale);
	}
	// The board's item from (pos, rotation, scale) with top-left alignment.
	static Quad mapped(float x, float y, float rot, float sx, float sy, float w, float h)
	{
		Quad q;
		const vec2 o = rt::item_map(0, 0, x, y, rot, sx, sy);
		const vec2 u = rt::item_map(w, 0, x, y, rot, sx, sy);
		const vec2 v = rt::item_map(0, h, x, y, rot, sx, sy);
		q.origin = o;
		vec2_set(&q.du, u.x - o.x, u.y - o.y);
		vec2_set(&q.dv, v.x - o.x, v.y - o.y);
		return q;
	}
};

TEST(BoardGeometry, RotatedScaledAndFlippedBoards)
{
	Fixture f;
	struct Case {
		const char *what;
		float x, y, rot, sx, sy;
	};
	for (const Case &c :
	     {Case{"rotated 30", 300, 60, 30, 1, 1}, Case{"rotated -100", 250, 300, -100, 1, 1},
	      Case{"scaled", 100, 50, 0, 1.5f, 0.7f}, Case{"flipped x", 400, 50, 0, -1, 1},
	      Case{"flipped y", 100, 300, 0, 1, -1}, Case{"rotated, scaled, flipped", 320, 180, 45, -1.2f, 0.8f}}) {
		f.transform(c.x, c.y, c.rot, c.sx, c.sy);
		expect_area(f.frame(), Fixture::mapped(c.x, c.y, c.rot, c.sx, c.sy, 200, 150), c.what);
		EXPECT_EQ(rt::method_of(f.stage.board), CaptureMethod::Copy) << c.what;
	}
}

TEST(BoardGeometry, CroppedBoardShowsOnlyWhatSurvivesTheCrop)
{
	Fixture f;
	obs_sceneitem_crop crop = {20, 10, 30, 40};
	obs_sceneitem_set_crop(f.stage.board_item, &crop);
	// The visible 150 x 100 part sits at the item's position.
	f.transform(100, 100, 0, 1, 1);
	expect_area(f.frame(), axis_rect(100, 100, 250, 200), "cropped");
	EXPECT_EQ(rt::method_of(f.stage.board), CaptureMethod::Redraw);

	f.transform(300, 80, 20, 1.5f, 1.5f);
	expect_area(f.frame(), Fixture::mapped(300, 80, 20, 1.5f, 1.5f, 150, 100), "cropped, rotated, scaled");

	// A crop wider than the board leaves nothing to draw. (The host still
	// shows two pixels of the item's last texture.)
	crop = {150, 0, 100, 0};
	obs_sceneitem_set_crop(f.stage.board_item, &crop);
	f.frame();
	EXPECT_TRUE(f.stage.record()->render->cache_valid);
	EXPECT_FALSE(f.stage.record()->render->cached_ok);
}

// The content rectangle of a 200 x 150 source in a 300 x 100 box at
// (100, 80), centred, computed per bounds type.
Quad bounded_area(obs_bounds_type type, bool crop_to_bounds)
{
	const float w = 200, h = 150, bw = 300, bh = 100;
	float sx = 1, sy = 1;
	switch (type) {
	case OBS_BOUNDS_STRETCH:
		sx = bw / w;
		sy = bh / h;
		break;
	case OBS_BOUNDS_SCALE_INNER:
		sx = sy = std::min(bw / w, bh / h);
		break;
	case OBS_BOUNDS_SCALE_OUTER:
		sx = sy = std::max(bw / w, bh / h);
		break;
	case OBS_BOUNDS_SCALE_TO_WIDTH:
		sx = sy = bw / w;
		break;
	case OBS_BOUNDS_SCALE_TO_HEIGHT:
		sx = sy = bh / h;
		break;
	case OBS_BOUNDS_MAX_ONLY:
		sx = sy = (w > bw || h > bh) ? std::min(bw / w, bh / h) : 1.0f;
		break;
	default:
		break;
	}
	const float cw = w * sx, ch = h * sy;
	float x0 = 100 + (bw - cw) / 2, y0 = 80 + (bh - ch) / 2, x1 = x0 + cw, y1 = y0 + ch;
	if (crop_to_bounds) {
		x0 = std::max(x0, 100.0f);
		y0 = std::max(y0, 80.0f);
		x1 = std::min(x1, 400.0f);
		y1 = std::min(y1, 180.0f);
	}
	return axis_rect(x0, y0, x1, y1);
}

TEST(BoardGeometry, EveryBoundsTypeWithAndWithoutCropToBounds)
{
	Fixture f;
	f.transform(100, 80, 0, 1, 1);
	vec2 bounds;
	vec2_set(&bounds, 300, 100);
	obs_sceneitem_set_bounds(f.stage.board_item, &bounds);
	obs_sceneitem_set_bounds_alignment(f.stage.board_item, OBS_ALIGN_CENTER);
	for (obs_bounds_type type : {OBS_BOUNDS_STRETCH, OBS_BOUNDS_SCALE_INNER, OBS_BOUNDS_SCALE_OUTER,
				     OBS_BOUNDS_SCALE_TO_WIDTH, OBS_BOUNDS_SCALE_TO_HEIGHT, OBS_BOUNDS_MAX_ONLY}) {
		for (bool crop : {false, true}) {
			obs_sceneitem_set_bounds_type(f.stage.board_item, type);
			obs_sceneitem_set_bounds_crop(f.stage.board_item, crop);
			const std::string what = "bounds type " + std::to_string(int(type)) + (crop ? " cropped" : "");
			expect_area(f.frame(), bounded_area(type, crop), what);
		}
	}
	// A source smaller than the box is not enlarged by "max only".
	f.stage.update(R"({"width": 100, "height": 50})");
	obs_sceneitem_set_bounds_type(f.stage.board_item, OBS_BOUNDS_MAX_ONLY);
	expect_area(f.frame(), axis_rect(200, 105, 300, 155), "max only, small source");
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
