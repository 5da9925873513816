// SPDX-License-Identifier: GPL-2.0-or-later
// Shaped boards: ellipse, rounded rectangle, feathered edges and invert.
// Over a one-pixel checker a strong blur (or a mosaic of even cells) is
// uniform grey (0.5 in linear light), so the mask m of every pixel can be
// read back: out = lerp(picture, 0.5, m).
#include <cstring>

#include "harness/frame_clock.h"
#include "harness/render_util.h"

namespace {

using rt::Rect;

// m at a pixel of the output over the one-pixel checker.
double mask_at(const harness::Image &out, int x, int y)
{
	const double v = rt::to_linear(out.at(x, y)[1]);
	const bool white = ((x + y) & 1) != 0;
	return white ? 2.0 * (1.0 - v) : 2.0 * v;
}

// The ellipse filling a w x h board at (x0, y0): normalised radius of a
// pixel centre.
double ellipse_radius(int x, int y, float x0, float y0, float w, float h)
{
	const double qx = (x + 0.5 - x0 - w / 2) / (w / 2), qy = (y + 0.5 - y0 - h / 2) / (h / 2);
	return std::sqrt(qx * qx + qy * qy);
}

void expect_ellipse(const harness::Image &out, const harness::Image &ref, const char *what)
{
	int outside = 0, inside = 0;
	for (int y = 80; y < 280; ++y)
		for (int x = 170; x < 470; ++x) {
			const double k = ellipse_radius(x, y, 170, 80, 300, 200);
			if (k > 1.02) {
				++outside;
				ASSERT_EQ(rt::channel_diff(out, ref, x, y), 0) << what << " " << x << "," << y;
			} else if (k < 0.97) {
				++inside;
				ASSERT_GT(rt::channel_diff(out, ref, x, y), 40) << what << " " << x << "," << y;
			}
		}
	EXPECT_GT(outside, 10000);
	EXPECT_GT(inside, 40000);
	// Nothing outside the board either.
	EXPECT_EQ(rt::count_changed(out, ref, 0, {0, 0, 640, 80}), 0);
	EXPECT_EQ(rt::count_changed(out, ref, 0, {0, 280, 640, 360}), 0);
}

TEST(Shape, EllipseLeavesTheCornersUntouched)
{
	const harness::Image ref = rt::pattern_image("checker", 1);
	rt::Stage stage(R"({"width": 300, "height": 200, "shape": "ellipse", "blur_radius": 40})", "checker", 1);
	stage.place(170, 80);
	const harness::Image out = harness::settled_frame();
	expect_ellipse(out, ref, "blur");
	// The edge is one pixel soft: the mask is the distance inside the
	// ellipse plus a half, 0.5 on the geometric edge.
	int soft = 0;
	for (int y = 80; y < 280; ++y)
		for (int x = 170; x < 470; ++x) {
			const double rx = 150, ry = 100;
			const double qx = (x + 0.5 - 320) / rx, qy = (y + 0.5 - 180) / ry;
			const double k0 = std::sqrt(qx * qx + qy * qy);
			const double k1 = std::sqrt(qx * qx / (rx * rx) + qy * qy / (ry * ry));
			const double d = k0 * (1 - k0) / k1;
			if (std::abs(d) < 0.4) {
				++soft;
				EXPECT_NEAR(mask_at(out, x, y), d + 0.5, 0.08) << x << "," << y;
			}
		}
	EXPECT_GT(soft, 300);

	stage.update(R"({"mode": "mosaic", "mosaic_size": 10})");
	expect_ellipse(harness::settled_frame(), ref, "mosaic");
}

TEST(Shape, FeatherRampsOverItsWidthInsideTheEdge)
{
	rt::Stage stage(R"({"width": 300, "height": 200, "feather": 20, "blur_radius": 40})", "checker", 1);
	stage.place(170, 80);
	const harness::Image out = harness::settled_frame();
	for (int i = 0; i < 30; ++i) {
		const double expected = std::min(1.0, (i + 0.5) / 20.0);
		EXPECT_NEAR(mask_at(out, 170 + i, 180), expected, 0.04) << "left " << i;
		EXPECT_NEAR(mask_at(out, 469 - i, 180), expected, 0.04) << "right " << i;
		EXPECT_NEAR(mask_at(out, 320, 80 + i), expected, 0.04) << "top " << i;
		EXPECT_NEAR(mask_at(out, 321, 279 - i), expected, 0.04) << "bottom " << i;
	}
	// In a corner the nearer edge counts.
	EXPECT_NEAR(mask_at(out, 175, 185 - 100), 5.5 / 20.0, 0.04);
}

TEST(Shape, FeatherIsLimitedToHalfTheVisibleRectanglesSmallerSide)
{
	// 40 pixels high: at most 20 of feather, so the middle row is fully in.
	rt::Stage stage(R"({"width": 300, "height": 40, "feather": 100, "blur_radius": 40})", "checker", 1);
	stage.place(170, 80);
	harness::Image out = harness::settled_frame();
	EXPECT_NEAR(mask_at(out, 320, 99), 0.975, 0.04);
	EXPECT_NEAR(mask_at(out, 320, 100), 0.975, 0.04);
	EXPECT_NEAR(mask_at(out, 179, 100), 0.475, 0.04);
	EXPECT_NEAR(mask_at(out, 320, 89), 0.475, 0.04);

	// A crop leaves 40 visible rows of a 100-row board: the same limit.
	stage.update(R"({"height": 100})");
	obs_sceneitem_crop crop = {0, 30, 0, 30};
	obs_sceneitem_set_crop(stage.board_item, &crop);
	out = harness::settled_frame();
	EXPECT_NEAR(mask_at(out, 320, 99), 0.975, 0.04);
	EXPECT_NEAR(mask_at(out, 320, 89), 0.475, 0.04);
	EXPECT_NEAR(mask_at(out, 179, 100), 0.475, 0.04);
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Redraw); // the host draws a cropped item via a texture
}

TEST(Shape, FeatherStaysInCanvasPixelsOnAScaledBoard)
{
	rt::Stage stage(R"({"width": 150, "height": 100, "feather": 20, "blur_radius": 40})", "checker", 1);
	stage.place(170, 80);
	vec2 scale;
	vec2_set(&scale, 2.0f, 2.0f);
	obs_sceneitem_set_scale(stage.board_item, &scale);
	const harness::Image out = harness::settled_frame();
	for (int i = 0; i < 30; ++i)
		EXPECT_NEAR(mask_at(out, 170 + i, 180), std::min(1.0, (i + 0.5) / 20.0), 0.04) << i;
}

TEST(Shape, ARectangleWithoutFeatherHasAHardEdge)
{
	const harness::Image ref = rt::pattern_image("checker", 1);
	rt::Stage stage(R"({"width": 300, "height": 200, "blur_radius": 40})", "checker", 1);
	stage.place(170, 80);
	const harness::Image out = harness::settled_frame();
	EXPECT_EQ(rt::channel_diff(out, ref, 169, 180), 0);
	EXPECT_NEAR(mask_at(out, 170, 180), 1.0, 0.04);
	EXPECT_NEAR(mask_at(out, 170, 80), 1.0, 0.04);
}

// Where a board placed by pos, rotation (degrees) and scale puts a pixel's
// centre, in the board's frame measured in canvas pixels.
struct Placement {
	float x = 0, y = 0, rot = 0, sx = 1, sy = 1;
};

// The mask as the effect works it out, on the CPU: the signed inside
// distance of the shape filling a w x h board (a rounded box exactly; the
// ellipse's estimate), the feather or the one-pixel edge, the invert.
struct MaskShape {
	const char *kind; // "rect", "rounded", "ellipse"
	float w = 300, h = 200, radius = 0, feather = 0;
	bool invert = false;
};

double reference_mask(const MaskShape &m, const Placement &p, int x, int y)
{
	const double a = p.rot * M_PI / 180.0;
	const double dx = x + 0.5 - p.x, dy = y + 0.5 - p.y;
	const double lx = dx * std::cos(a) + dy * std::sin(a), ly = -dx * std::sin(a) + dy * std::cos(a);
	const double rx = m.w * p.sx / 2, ry = m.h * p.sy / 2;
	const double px = lx - rx, py = ly - ry, smaller = std::min(rx, ry);
	double d;
	if (std::strcmp(m.kind, "rounded") == 0) {
		const double k = std::min<double>(m.radius, smaller);
		const double qx = std::abs(px) - (rx - k), qy = std::abs(py) - (ry - k);
		d = k - std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) - std::min(std::max(qx, qy), 0.0);
	} else if (std::strcmp(m.kind, "ellipse") == 0) {
		const double k0 = std::hypot(px / rx, py / ry), k1 = std::hypot(px / (rx * rx), py / (ry * ry));
		d = k0 < 1e-4 ? smaller : k0 * (1 - k0) / k1;
	} else {
		d = std::min(rx - std::abs(px), ry - std::abs(py));
	}
	const double f = std::min<double>(m.feather, smaller);
	const double v = std::clamp(f > 0 ? d / f : d + 0.5, 0.0, 1.0);
	return m.invert ? 1.0 - v : v;
}

struct MaskCase {
	const char *what;
	const char *settings;
	MaskShape shape;
	Placement at;
};

// Fully hidden pixels are the grey within 2 levels, untouched ones are the
// picture exactly, and the soft ones between follow the mask.
TEST(Shape, RoundedAndInvertedMasksMatchTheirReference)
{
	const MaskCase cases[] = {
	    {"rounded", R"({"shape": "rounded", "corner_radius": 40})", {"rounded", 300, 200, 40}, {170, 80}},
	    {"rounded, feathered, rotated and scaled",
	     R"({"shape": "rounded", "corner_radius": 30, "feather": 12})",
	     {"rounded", 300, 200, 30, 12},
	     {260, 40, 30, 1.2f, 0.8f}},
	    {"rounded beyond half the side: a pill",
	     R"({"shape": "rounded", "corner_radius": 500})",
	     {"rounded", 300, 200, 500},
	     {170, 80}},
	    {"inverted rectangle", R"({"invert": true})", {"rect", 300, 200, 0, 0, true}, {170, 80}},
	    {"inverted rounded, feathered, rotated and scaled",
	     R"({"shape": "rounded", "corner_radius": 40, "feather": 10, "invert": true})",
	     {"rounded", 300, 200, 40, 10, true},
	     {300, 30, 20, 1.3f, 0.7f}},
	    {"inverted ellipse, mosaic",
	     R"({"shape": "ellipse", "invert": true, "mode": "mosaic", "mosaic_size": 10})",
	     {"ellipse", 300, 200, 0, 0, true},
	     {170, 80}},
	};
	const harness::Image ref = rt::pattern_image("checker", 1);
	const int grey = int(std::lround((1.055 * std::pow(0.5, 1 / 2.4) - 0.055) * 255));
	for (const MaskCase &c : cases) {
		SCOPED_TRACE(c.what);
		rt::Stage stage(R"({"width": 300, "height": 200, "blur_radius": 40})", "checker", 1);
		stage.update(c.settings);
		stage.place(c.at.x, c.at.y);
		obs_sceneitem_set_rot(stage.board_item, c.at.rot);
		vec2 scale;
		vec2_set(&scale, c.at.sx, c.at.sy);
		obs_sceneitem_set_scale(stage.board_item, &scale);
		const harness::Image out = harness::settled_frame();
		long hidden = 0, untouched = 0, wrong = 0;
		for (int y = 0; y < int(out.height); ++y)
			for (int x = 0; x < int(out.width); ++x) {
				const double m = reference_mask(c.shape, c.at, x, y);
				if (m >= 1.0) {
					++hidden;
					wrong += std::abs(int(out.at(x, y)[1]) - grey) > 2;
				} else if (m <= 0.0) {
					++untouched;
					wrong += rt::channel_diff(out, ref, x, y) != 0;
				} else {
					wrong += std::abs(mask_at(out, x, y) - m) > 0.06;
				}
			}
		EXPECT_EQ(wrong, 0);
		EXPECT_GT(hidden, 20000);
		EXPECT_GT(untouched, 20000);
	}
}

// Detail left in an area of a view, against the same view of the plain
// picture.
double detail_left(const harness::Image &view, const harness::Image &plain, Rect area)
{
	return rt::detail(view, area) / rt::detail(plain, area);
}

// Inverted, the board hides the whole canvas but its shape in every view: a
// scaled projector (which redraws) and studio mode's program, which keeps
// its own copy's place when the board moves in the preview.
TEST(Shape, AnInvertedBoardHidesAllButItsShapeInEveryView)
{
	const char *settings = R"({"width": 200, "height": 120, "blur_radius": 20, "invert": true})";
	const Rect shape = {104, 64, 296, 176}, around = {400, 0, 640, 360};
	const harness::Image picture = rt::pattern_image("detail");
	{
		rt::Stage stage(settings, "detail");
		stage.place(100, 60);
		const harness::Image program = harness::settled_frame(3);
		EXPECT_EQ(rt::max_diff(program, picture, shape), 0);
		EXPECT_LT(detail_left(program, picture, around), 0.3);
		EXPECT_LT(detail_left(program, picture, {0, 0, 640, 50}), 0.3);
		const harness::Image view = harness::in_own_frame(
		    [&] { return harness::render_view(stage.scene_source(), 640, 360, 0.5f, 8.0f, 4.0f); });
		const harness::Image plain = harness::render_view(stage.picture, 640, 360, 0.5f, 8.0f, 4.0f);
		EXPECT_GT(detail_left(view, plain, {62, 38, 154, 90}), 0.8);
		EXPECT_LT(detail_left(view, plain, {210, 4, 328, 184}), 0.3);
	}
	ASSERT_TRUE(harness::load_stock_module("obs-transitions"));
	for (const auto type : {OBS_SCENE_DUP_PRIVATE_REFS, OBS_SCENE_DUP_PRIVATE_COPY}) {
		rt::Stage stage(settings, "detail", 8, false);
		stage.place(100, 60);
		rt::StudioProgram studio(stage.scene, type);
		const harness::Image before = harness::settled_frame(3);
		EXPECT_LE(rt::max_diff(before, picture, shape), 2) << type;
		EXPECT_LT(detail_left(before, picture, around), 0.3) << type;
		stage.place(400, 200);
		const harness::Image moved = harness::settled_frame(3);
		EXPECT_LE(rt::max_diff(moved, before, {0, 0, 640, 360}), 2) << type;
	}
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
