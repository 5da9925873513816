// SPDX-License-Identifier: GPL-2.0-or-later
// Cover mode: inside its shape the board shows its colour or image and
// nothing of the picture beneath, exactly; outside the shape nothing
// changes. Run on the 8-bit canvas, and with "p010" / "pq" on the 16-bit
// float canvases (SDR and HDR).
#include <png.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "harness/frame_clock.h"
#include "harness/render_util.h"

namespace {

using rt::Rect;

bool float_canvas = false;

// The canvas as floats: sRGB levels (0 to 255) on the 8-bit canvas, linear
// values on a float one. Read from the host, so "unchanged" compares the
// host's pixels with the host's pixels.
struct Canvas {
	uint32_t width = 0, height = 0;
	std::vector<float> rgb;
	const float *at(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
	bool same(const Canvas &o, int x, int y) const
	{
		return std::memcmp(at(x, y), o.at(x, y), 3 * sizeof(float)) == 0;
	}
};

Canvas canvas()
{
	Canvas out;
	const harness::Image frame = harness::settled_frame(3);
	if (!float_canvas) {
		out.width = frame.width;
		out.height = frame.height;
		for (size_t i = 0; i < size_t(frame.width) * frame.height; ++i)
			for (int c = 0; c < 3; ++c)
				out.rgb.push_back(frame.rgba[i * 4 + c]);
		return out;
	}
	const harness::FloatImage img = harness::main_texture_float();
	out.width = img.width;
	out.height = img.height;
	for (size_t i = 0; i < size_t(img.width) * img.height; ++i)
		for (int c = 0; c < 3; ++c)
			out.rgb.push_back(img.rgba[i * 4 + c]);
	return out;
}

// 0xAABBGGRR as the canvas holds it.
std::array<float, 3> expected_colour(uint32_t abgr)
{
	std::array<float, 3> out{};
	for (int c = 0; c < 3; ++c) {
		const uint8_t byte = (abgr >> (8 * c)) & 0xFF;
		out[c] = float_canvas ? (float)rt::to_linear(byte) : (float)byte;
	}
	return out;
}

bool near_colour(const float *p, const std::array<float, 3> &want)
{
	for (int c = 0; c < 3; ++c) {
		const float tolerance = float_canvas ? 2e-3f + want[c] * 2e-3f : 1.0f;
		if (std::fabs(p[c] - want[c]) > tolerance)
			return false;
	}
	return true;
}

// Where a board placed by pos, rotation and scale puts a canvas pixel's
// centre, in the board's frame measured in canvas pixels.
struct Placement {
	float x = 0, y = 0, rot = 0, sx = 1, sy = 1;
	obs_sceneitem_crop crop{};
};

vec2 board_local(const Placement &p, int x, int y)
{
	const float a = p.rot * float(M_PI) / 180.0f;
	const float dx = x + 0.5f - p.x, dy = y + 0.5f - p.y;
	vec2 out;
	vec2_set(&out, dx * cosf(a) + dy * sinf(a), -dx * sinf(a) + dy * cosf(a));
	return out;
}

enum class Where { Inside, Outside, Edge };

// The shape's settings, as the board reads them.
struct Shape {
	std::string kind;
	float radius = 0, feather = 0;
	bool invert = false;
};

Shape shape_of(obs_source_t *board)
{
	obs_data_t *settings = obs_source_get_settings(board);
	Shape s{obs_data_get_string(settings, "shape"), (float)obs_data_get_double(settings, "corner_radius"),
		(float)obs_data_get_double(settings, "feather"), obs_data_get_bool(settings, "invert")};
	obs_data_release(settings);
	return s;
}

Where inside_shape(const Placement &p, float w, float h, const Shape &s, int x, int y);

// Inside: fully covered (past the feather, a pixel in); outside: a pixel
// beyond the covered part's edge. Inverted, the two swap.
Where where(const Placement &p, float w, float h, const Shape &s, int x, int y)
{
	const Where in = inside_shape(p, w, h, s, x, y);
	if (!s.invert || in == Where::Edge)
		return in;
	return in == Where::Inside ? Where::Outside : Where::Inside;
}

Where inside_shape(const Placement &p, float w, float h, const Shape &s, int x, int y)
{
	const float feather = s.feather;
	// The host puts the crop's top-left corner at the item's position.
	const vec2 q = board_local(p, x, y);
	const float W = (w - p.crop.left - p.crop.right) * p.sx, H = (h - p.crop.top - p.crop.bottom) * p.sy;
	if (s.kind == "rounded") {
		const float k = std::min(s.radius, std::min(W, H) / 2);
		const float qx = std::fabs(q.x - W / 2) - (W / 2 - k), qy = std::fabs(q.y - H / 2) - (H / 2 - k);
		const float d =
		    k - std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f)) - std::min(std::max(qx, qy), 0.0f);
		return d > feather + 1.0f ? Where::Inside : d < -1.0f ? Where::Outside : Where::Edge;
	}
	if (s.kind != "ellipse") {
		const float d = std::min(std::min(q.x, W - q.x), std::min(q.y, H - q.y));
		return d > feather + 1.0f ? Where::Inside : d < -1.0f ? Where::Outside : Where::Edge;
	}
	const float rx = W / 2, ry = H / 2;
	const float k = std::sqrt(std::pow((q.x - rx) / rx, 2.0f) + std::pow((q.y - ry) / ry, 2.0f));
	const float r = std::min(rx, ry);
	if (k < 1.0f - (feather + 1.5f) / r)
		return Where::Inside;
	return k > 1.0f + 1.5f / r ? Where::Outside : Where::Edge;
}

struct Frames {
	Canvas covered, plain;
};

Frames frames_of(rt::Stage &stage)
{
	Frames f;
	f.covered = canvas();
	obs_sceneitem_set_visible(stage.board_item, false);
	f.plain = canvas();
	obs_sceneitem_set_visible(stage.board_item, true);
	return f;
}

struct ShapeCase {
	const char *settings;
	Placement at;
	const char *what;
};

constexpr uint32_t kColour = 0xFF3060C0; // R 0xC0, G 0x60, B 0x30

TEST(Cover, IdenticalOverAnyPictureInsideItsShapeAndNothingChangesOutside)
{
	const ShapeCase cases[] = {
	    {R"({"shape": "rect"})", {170, 80, 0, 1, 1}, "rectangle"},
	    {R"({"shape": "ellipse"})", {170, 80, 0, 1, 1}, "ellipse"},
	    {R"({"shape": "ellipse", "feather": 20})", {260, 40, 30, 1, 1}, "feathered ellipse, rotated"},
	    {R"({"shape": "rect", "feather": 12})", {300, 20, 45, 1.5f, 0.8f}, "feathered rectangle, rotated, scaled"},
	    {R"({"shape": "ellipse", "feather": 8})", {150, 70, 10, 1, 1, {40, 20, 0, 30}}, "cropped ellipse"},
	    {R"({"shape": "rounded", "corner_radius": 50, "feather": 6})", {260, 40, 30, 1.2f, 1}, "rounded, rotated"},
	    // Inverted, the cover spans the canvas but the shape.
	    {R"({"shape": "rounded", "corner_radius": 40, "invert": true})",
	     {300, 20, 45, 1.5f, 0.8f},
	     "inverted rounded, rotated, scaled"},
	    {R"({"shape": "ellipse", "feather": 10, "invert": true})", {170, 80, 0, 1, 1}, "inverted ellipse"},
	};
	for (const ShapeCase &c : cases) {
		SCOPED_TRACE(c.what);
		rt::Stage stage(R"({"mode": "cover", "cover_color": 4281360576, "width": 300, "height": 200})",
				"detail");
		stage.update(c.settings);
		stage.place(c.at.x, c.at.y);
		obs_sceneitem_set_rot(stage.board_item, c.at.rot);
		vec2 scale;
		vec2_set(&scale, c.at.sx, c.at.sy);
		obs_sceneitem_set_scale(stage.board_item, &scale);
		obs_sceneitem_set_crop(stage.board_item, &c.at.crop);
		const Frames a = frames_of(stage);
		rt::update_source(stage.picture, R"({"kind": "checker", "cell": 1})");
		const Frames b = frames_of(stage);

		const Shape shape = shape_of(stage.board);
		const auto colour = expected_colour(kColour);
		long inside = 0, outside = 0, wrong = 0;
		for (int y = 0; y < int(a.covered.height); ++y)
			for (int x = 0; x < int(a.covered.width); ++x) {
				switch (where(c.at, 300, 200, shape, x, y)) {
				case Where::Inside:
					++inside;
					wrong += !a.covered.same(b.covered, x, y) ||
						 !near_colour(a.covered.at(x, y), colour);
					break;
				case Where::Outside:
					++outside;
					wrong += !a.covered.same(a.plain, x, y) || !b.covered.same(b.plain, x, y);
					break;
				case Where::Edge:
					break;
				}
			}
		EXPECT_EQ(wrong, 0);
		EXPECT_GT(inside, 20000);
		EXPECT_GT(outside, shape.invert ? 20000 : 100000);
	}
}

// The board's area on the 8-bit canvas, a little inset.
const Rect kBoard = {100, 60, 300, 180};

long pixels_not(const harness::Image &img, Rect area, uint32_t abgr)
{
	long n = 0;
	for (int y = area.y0; y < area.y1; ++y)
		for (int x = area.x0; x < area.x1; ++x)
			for (int c = 0; c < 3; ++c)
				if (std::abs(int(img.at(x, y)[c]) - int((abgr >> (8 * c)) & 0xFF)) > 1) {
					++n;
					break;
				}
	return n;
}

rt::Stage cover_stage(const char *extra = "", bool to_output = true)
{
	return rt::Stage(std::string(R"({"mode": "cover", "cover_color": 4281360576, "width": 200, "height": 120)") +
			     extra + "}",
			 "detail", 8, to_output);
}

// A scaled projector draws the cover where it shows the board; studio
// mode's program covers the board's place in its own copy of the scene,
// even after the board moves in the preview.
TEST(Cover, EveryViewAndTheStudioProgram)
{
	{
		rt::Stage stage = cover_stage();
		stage.place(100, 60);
		harness::settled_frame(3);
		const harness::Image view = harness::in_own_frame(
		    [&] { return harness::render_view(stage.scene_source(), 640, 360, 0.5f, 8.0f, 4.0f); });
		EXPECT_EQ(pixels_not(view, {59, 35, 157, 93}, kColour), 0);
		EXPECT_EQ(rt::count_changed(view, harness::render_view(stage.picture, 640, 360, 0.5f, 8.0f, 4.0f), 0,
					    {200, 0, 640, 360}),
			  0);
	}
	ASSERT_TRUE(harness::load_stock_module("obs-transitions"));
	for (const auto type : {OBS_SCENE_DUP_PRIVATE_REFS, OBS_SCENE_DUP_PRIVATE_COPY}) {
		rt::Stage stage = cover_stage("", false);
		stage.place(100, 60);
		rt::StudioProgram studio(stage.scene, type);
		EXPECT_EQ(pixels_not(harness::settled_frame(3), rt::inset(kBoard, 1), kColour), 0) << type;
		stage.place(400, 200);
		const harness::Image moved = harness::settled_frame(3);
		EXPECT_EQ(pixels_not(moved, rt::inset(kBoard, 1), kColour), 0) << type;
		EXPECT_EQ(rt::max_diff(moved, rt::pattern_image("detail"), {400, 200, 600, 320}), 0) << type;
	}
}

// A 2 x 2 RGBA picture: red, blue / green, transparent.
std::string write_cover_png()
{
	const std::string path = (std::filesystem::temp_directory_path() / "mistpane-cover-test.png").string();
	const uint8_t rows[2][8] = {{255, 0, 0, 255, 0, 0, 255, 255}, {0, 255, 0, 255, 0, 0, 0, 0}};
	FILE *file = std::fopen(path.c_str(), "wb");
	if (!file)
		return {};
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
	png_infop info = png_create_info_struct(png);
	if (!setjmp(png_jmpbuf(png))) {
		png_init_io(png, file);
		png_set_IHDR(png, info, 2, 2, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
			     PNG_FILTER_TYPE_DEFAULT);
		png_write_info(png, info);
		for (const auto &row : rows)
			png_write_row(png, row);
		png_write_end(png, nullptr);
	}
	png_destroy_write_struct(&png, &info);
	std::fclose(file);
	return path;
}

TEST(Cover, AnImageFillsTheShapeAndAnUnreadableOneFallsBackToTheColourOnce)
{
	const std::string png = write_cover_png();
	ASSERT_FALSE(png.empty());
	rt::Stage stage = cover_stage();
	stage.place(100, 60);
	stage.update(R"({"cover_image": ")" + png + R"("})");
	harness::Image a = harness::settled_frame(3);
	// The outer quarter of each half shows one texel; the transparent one
	// shows the colour.
	const struct {
		Rect area;
		uint32_t abgr;
	} quarters[] = {{{101, 61, 149, 89}, 0xFF0000FF},
			{{251, 61, 299, 89}, 0xFFFF0000},
			{{101, 151, 149, 179}, 0xFF00FF00},
			{{251, 151, 299, 179}, kColour}};
	for (const auto &q : quarters)
		EXPECT_EQ(pixels_not(a, q.area, q.abgr), 0) << std::hex << q.abgr;
	rt::update_source(stage.picture, R"({"kind": "checker", "cell": 1})");
	EXPECT_EQ(rt::max_diff(a, harness::settled_frame(3), rt::inset(kBoard, 1)), 0);
	std::filesystem::remove(png);

	harness::clear_log();
	const std::string missing = "/nonexistent/mistpane-cover.png";
	stage.update(R"({"cover_image": ")" + missing + R"("})");
	a = harness::settled_frame(3);
	EXPECT_EQ(pixels_not(a, kBoard, kColour), 0);
	stage.update(R"({"cover_color": 4278190335})"); // any other change: no second line
	EXPECT_EQ(pixels_not(harness::settled_frame(3), kBoard, 0xFF0000FF), 0);
	// The line comes from the update the host applies in a later tick.
	const std::string line =
	    "board 'board': cover image '" + missing + "' cannot be read; covering with the colour";
	for (int i = 0; i < 60 && harness::log_matching(line).empty(); ++i)
		harness::settled_frame(1);
	EXPECT_EQ(harness::log_matching(line).size(), 1u);
}

// Opaque at any strength; a fade mixes it with the picture by its level,
// in linear light; the emergency cover wins over the mode.
TEST(Cover, StrengthDoesNotThinItAFadeMixesItAndTheEmergencyCoverWins)
{
	rt::Stage stage(R"({"mode": "cover", "cover_color": 4281360576, "width": 200, "height": 120, "strength": 20})",
			"solid", 8, true, 0xff00ff00);
	stage.place(100, 60);
	EXPECT_EQ(pixels_not(harness::settled_frame(3), kBoard, kColour), 0);

	stage.update(R"({"enabled": false, "fade_seconds": 60})");
	{
		BlurBoard *b = stage.record();
		std::lock_guard<std::mutex> lock(b->mutex);
		b->fade_level = 0.5f;
	}
	const harness::Image half = harness::settled_frame(3);
	const double want[3] = {0.5 * rt::to_linear(0xC0), 0.5 * rt::to_linear(0x60) + 0.5, 0.5 * rt::to_linear(0x30)};
	for (int c = 0; c < 3; ++c)
		EXPECT_NEAR(rt::to_linear(half.at(200, 120)[c]), want[c], 0.01) << c;

	stage.update(R"({"enabled": true, "fade_seconds": 0, "emergency": true})");
	const harness::Image emergency = harness::settled_frame(3);
	// The mosaic of a solid picture is that picture.
	EXPECT_EQ(pixels_not(emergency, kBoard, 0xff00ff00), 0);
}

// On a scRGB target (1.0 is 80 nits) the colour is lifted to the host's SDR
// white, as the host lifts SDR sources there; elsewhere it is the colour.
TEST(Cover, OnAnScRgbViewTheColourIsLiftedToSdrWhite)
{
	rt::Stage stage = cover_stage();
	stage.place(100, 60);
	harness::settled_frame(3);
	const float lift = obs_get_video_sdr_white_level() / 80.0f;
	for (const auto &[space, scale] : {std::pair{GS_CS_709_SCRGB, lift}, {GS_CS_709_EXTENDED, 1.0f}}) {
		const harness::FloatImage view = harness::in_own_frame(
		    [&] { return harness::render_view_float(stage.scene_source(), 640, 360, space); });
		ASSERT_FALSE(view.empty());
		for (int c = 0; c < 3; ++c)
			EXPECT_NEAR(view.at(200, 120)[c], rt::to_linear((kColour >> (8 * c)) & 0xFF) * scale,
				    3e-3 * scale)
			    << space << " " << c;
	}
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	for (int i = 1; i < argc; ++i) {
		if (std::strcmp(argv[i], "p010") == 0 || std::strcmp(argv[i], "pq") == 0) {
			float_canvas = true;
			options.format = VIDEO_FORMAT_P010;
		}
		if (std::strcmp(argv[i], "pq") == 0)
			options.colorspace = VIDEO_CS_2100_PQ;
	}
	// The float canvases check the pixels of the shapes; the rest is the
	// same on any canvas.
	if (float_canvas)
		::testing::GTEST_FLAG(filter) = "Cover.Identical*:Cover.OnAnScRgb*";
	return harness::run_tests(argc, argv, options);
}
