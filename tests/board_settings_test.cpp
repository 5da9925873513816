// SPDX-License-Identifier: GPL-2.0-or-later
// Board settings as the host applies them: defaults, clamps, the first
// update's fade rule, size and colour space.
#include <obs-module.h>

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "board/blur_board.h"
#include "harness/board.h"
#include "harness/host.h"

namespace {

struct Snapshot {
	bool is_mosaic, emergency, force_redraw;
	ShapeKind shape;
	float blur_radius, mosaic_size, strength, fade_seconds, emergency_size, feather, fade_level;
	uint32_t width, height;
	bool enabled, emergency_applied;
	float corner_radius;
	bool invert;
};

Snapshot read(obs_source_t *source)
{
	BlurBoard *b = harness::board_of(source);
	std::lock_guard<std::mutex> lock(b->mutex);
	return {
	    b->is_mosaic,           b->emergency,    b->force_redraw,  b->shape.kind,     b->blur_radius,
	    b->mosaic_size,         b->strength,     b->fade_seconds,  b->emergency_size, b->shape.feather,
	    b->fade_level,          b->width.load(), b->height.load(), b->enabled.load(), b->emergency_applied.load(),
	    b->shape.corner_radius, b->shape.invert};
}

using harness::Board;

constexpr const char *kBoard = "settings board";

// The host applies a video source's update in its next tick.
void apply(const Board &board, const char *json)
{
	board.update(json);
	harness::next_frames(2);
}

TEST(BoardSettings, DefaultsMatchTheInitialRecord)
{
	obs_data_t *defaults = obs_get_source_defaults("korvanta_blur_board");
	EXPECT_STREQ(obs_data_get_string(defaults, "mode"), "blur");
	EXPECT_EQ(obs_data_get_double(defaults, "blur_radius"), 20.0);
	EXPECT_EQ(obs_data_get_double(defaults, "mosaic_size"), 24.0);
	EXPECT_EQ(obs_data_get_double(defaults, "strength"), 100.0);
	EXPECT_TRUE(obs_data_get_bool(defaults, "enabled"));
	EXPECT_EQ(obs_data_get_double(defaults, "fade_seconds"), 0.5);
	EXPECT_EQ(obs_data_get_int(defaults, "width"), 640);
	EXPECT_EQ(obs_data_get_int(defaults, "height"), 360);
	EXPECT_FALSE(obs_data_get_bool(defaults, "emergency"));
	EXPECT_EQ(obs_data_get_double(defaults, "emergency_size"), 6.0);
	EXPECT_STREQ(obs_data_get_string(defaults, "shape"), "rect");
	EXPECT_EQ(obs_data_get_double(defaults, "feather"), 0.0);
	EXPECT_EQ(obs_data_get_double(defaults, "corner_radius"), 24.0);
	EXPECT_FALSE(obs_data_get_bool(defaults, "invert"));
	EXPECT_EQ(obs_data_get_int(defaults, "cover_color"), 0xFF303030);
	EXPECT_STREQ(obs_data_get_string(defaults, "cover_image"), "");
	EXPECT_FALSE(obs_data_has_default_value(defaults, "force_redraw"));

	// The defaults' order is the documented one.
	const char *expected[] = {"mode",          "blur_radius",    "mosaic_size", "strength",
				  "enabled",       "fade_seconds",   "width",       "height",
				  "emergency",     "emergency_size", "shape",       "feather",
				  "corner_radius", "invert",         "cover_color", "cover_image"};
	size_t i = 0;
	for (obs_data_item_t *item = obs_data_first(defaults); item; obs_data_item_next(&item), ++i) {
		ASSERT_LT(i, std::size(expected));
		EXPECT_STREQ(obs_data_item_get_name(item), expected[i]);
	}
	EXPECT_EQ(i, std::size(expected));
	obs_data_release(defaults);

	Board board(kBoard);
	const Snapshot s = read(board.source);
	EXPECT_FALSE(s.is_mosaic);
	EXPECT_EQ(s.blur_radius, 20.0f);
	EXPECT_EQ(s.mosaic_size, 24.0f);
	EXPECT_EQ(s.strength, 1.0f);
	EXPECT_EQ(s.fade_seconds, 0.5f);
	EXPECT_EQ(s.emergency_size, 6.0f);
	EXPECT_FALSE(s.force_redraw);
	EXPECT_EQ(s.shape, ShapeKind::Rect);
	EXPECT_EQ(s.corner_radius, 24.0f);
	EXPECT_FALSE(s.invert);
	EXPECT_EQ(obs_source_get_width(board.source), 640u);
	EXPECT_EQ(obs_source_get_height(board.source), 360u);
	EXPECT_EQ(harness::board_of(board.source)->placement_status.load(), PlacementStatus::NotPlaced);
	EXPECT_EQ(harness::board_of(board.source)->capture_method.load(), CaptureMethod::None);
}

TEST(BoardSettings, ClampsNumbersWithoutRejectingThem)
{
	Board board(kBoard, R"({"blur_radius": 600, "mosaic_size": 0.5, "strength": 150, "emergency_size": 0.1,
			"feather": 1200, "fade_seconds": 100, "width": 0, "height": 20000, "corner_radius": 1500})");
	Snapshot s = read(board.source);
	EXPECT_EQ(s.blur_radius, 500.0f);
	EXPECT_EQ(s.mosaic_size, 1.0f);
	EXPECT_EQ(s.strength, 1.0f);
	EXPECT_EQ(s.emergency_size, 0.5f);
	EXPECT_EQ(s.feather, 1000.0f);
	EXPECT_EQ(s.corner_radius, 1000.0f);
	EXPECT_EQ(s.fade_seconds, 60.0f);
	EXPECT_EQ(s.width, 1u);
	EXPECT_EQ(s.height, 16384u);

	apply(board, R"({"blur_radius": -3, "strength": -10, "emergency_size": 80, "width": -5,
			 "height": 4294967936, "corner_radius": -4})");
	s = read(board.source);
	EXPECT_EQ(s.blur_radius, 0.0f);
	EXPECT_EQ(s.strength, 0.0f);
	EXPECT_EQ(s.emergency_size, 50.0f);
	EXPECT_EQ(s.width, 1u);
	EXPECT_EQ(s.height, 16384u) << "2^32 + 640 must not wrap to 640";
	EXPECT_EQ(s.corner_radius, 0.0f);
	EXPECT_EQ(obs_source_get_height(board.source), 16384u);

	// Inside the clamp but beyond the slider: used as it is.
	apply(board, R"({"blur_radius": 350, "feather": 0.25, "corner_radius": 800})");
	s = read(board.source);
	EXPECT_EQ(s.blur_radius, 350.0f);
	EXPECT_EQ(s.feather, 0.25f);
	EXPECT_EQ(s.corner_radius, 800.0f);
}

// A remote-control program may send any type; the host's getters read a
// wrong type as 0 or false, which would switch the board off.
TEST(BoardSettings, WrongTypesAndNaNReadAsDefaultsInfinitiesClampBySign)
{
	Board board(kBoard, R"({"strength": "60", "enabled": "yes", "blur_radius": "5", "width": "100", "emergency": 1,
			"mode": 3, "height": 1e19, "invert": 1, "corner_radius": "8"})");
	Snapshot s = read(board.source);
	EXPECT_EQ(s.strength, 1.0f);
	EXPECT_TRUE(s.enabled);
	EXPECT_EQ(s.fade_level, 1.0f);
	EXPECT_EQ(s.blur_radius, 20.0f);
	EXPECT_EQ(s.width, 640u);
	EXPECT_FALSE(s.emergency);
	EXPECT_FALSE(s.is_mosaic);
	EXPECT_FALSE(s.invert);
	EXPECT_EQ(s.corner_radius, 24.0f);
	EXPECT_EQ(s.height, 16384u) << "1e19 clamps by its sign";

	obs_data_t *data = obs_data_create();
	obs_data_set_double(data, "blur_radius", NAN);
	obs_data_set_double(data, "strength", NAN);
	obs_data_set_double(data, "feather", INFINITY);
	obs_data_set_double(data, "corner_radius", NAN);
	obs_data_set_double(data, "fade_seconds", -INFINITY);
	obs_data_set_double(data, "width", INFINITY);
	obs_data_set_double(data, "height", NAN);
	obs_source_update(board.source, data);
	obs_data_release(data);
	harness::next_frames(2);
	s = read(board.source);
	EXPECT_EQ(s.blur_radius, 20.0f);
	EXPECT_EQ(s.strength, 1.0f);
	EXPECT_EQ(s.feather, 1000.0f);
	EXPECT_EQ(s.corner_radius, 24.0f);
	EXPECT_EQ(s.fade_seconds, 0.0f);
	EXPECT_EQ(s.width, 16384u);
	EXPECT_EQ(s.height, 360u);

	apply(board, R"({"width": -1e300, "height": 720.9})");
	s = read(board.source);
	EXPECT_EQ(s.width, 1u);
	EXPECT_EQ(s.height, 720u);
}

TEST(BoardSettings, FixedChoicesCompareExactly)
{
	Board board(kBoard, R"({"mode": "mosaic", "shape": "ellipse"})");
	EXPECT_TRUE(read(board.source).is_mosaic);
	EXPECT_EQ(read(board.source).shape, ShapeKind::Ellipse);
	apply(board, R"({"mode": "Mosaic", "shape": "circle"})");
	EXPECT_FALSE(read(board.source).is_mosaic);
	EXPECT_EQ(read(board.source).shape, ShapeKind::Rect);
	apply(board, R"({"mode": "mosaic ", "shape": "Ellipse"})");
	EXPECT_FALSE(read(board.source).is_mosaic);
	EXPECT_EQ(read(board.source).shape, ShapeKind::Rect);
	// Unknown shape words are a rectangle, as a saved board without the
	// setting is.
	for (const auto &[word, kind] : {std::pair{"rounded", ShapeKind::Rounded},
					 {"Rounded", ShapeKind::Rect},
					 {"rounded ", ShapeKind::Rect},
					 {"rect", ShapeKind::Rect},
					 {"ellipse", ShapeKind::Ellipse}}) {
		apply(board, (std::string(R"({"shape": ")") + word + "\"}").c_str());
		EXPECT_EQ(read(board.source).shape, kind) << word;
	}
	// Cover the same way; saved "blur" and unknown values stay blur.
	for (const auto &[mode, cover] :
	     {std::pair{"cover", true}, {"Cover", false}, {"cover ", false}, {"blur", false}}) {
		apply(board, (std::string(R"({"mode": ")") + mode + "\"}").c_str());
		EXPECT_EQ(harness::board_of(board.source)->is_cover, cover) << mode;
		EXPECT_FALSE(read(board.source).is_mosaic) << mode;
	}
}

// A cover is opaque once faded in: the strength does not thin it, and
// comes back when the mode changes back.
TEST(BoardSettings, CoverModeHasFullStrength)
{
	Board board(kBoard, R"({"mode": "cover", "strength": 30, "cover_color": -13619152})");
	EXPECT_EQ(read(board.source).strength, 1.0f);
	EXPECT_EQ(read(board.source).fade_level, 1.0f);
	// A colour stored as a signed 32-bit number is the same colour.
	EXPECT_EQ(harness::board_of(board.source)->cover_color, 0xFF303030u);
	apply(board, R"({"mode": "blur"})");
	EXPECT_EQ(read(board.source).strength, 0.3f);
}

TEST(BoardSettings, HiddenForceRedrawAndEmergencyMirror)
{
	Board board(kBoard);
	EXPECT_FALSE(read(board.source).force_redraw);
	apply(board, R"({"force_redraw": true, "emergency": true})");
	const Snapshot s = read(board.source);
	EXPECT_TRUE(s.force_redraw);
	EXPECT_TRUE(s.emergency);
	EXPECT_TRUE(s.emergency_applied);
}

TEST(BoardSettings, FirstUpdateSetsTheFadeLevelLaterUpdatesDoNot)
{
	Board disabled(kBoard, R"({"enabled": false})");
	EXPECT_EQ(read(disabled.source).fade_level, 0.0f);
	EXPECT_FALSE(read(disabled.source).enabled);

	// The host ticks the board between the updates; with a minute-long fade
	// those ticks move the level by a hair, where a jump to the new target
	// would move it by 0.4 or 0.6.
	Board partial(kBoard, R"({"strength": 60, "fade_seconds": 60})");
	EXPECT_FLOAT_EQ(read(partial.source).fade_level, 0.6f);
	apply(partial, R"({"strength": 20})");
	EXPECT_NEAR(read(partial.source).fade_level, 0.6f, 0.01f) << "only the tick moves the level";
	apply(partial, R"({"enabled": false})");
	EXPECT_NEAR(read(partial.source).fade_level, 0.6f, 0.02f);
	EXPECT_FALSE(read(partial.source).enabled);
}

TEST(BoardSettings, ColourSpaceFollowsTheHostsFirstChoice)
{
	Board board(kBoard);
	EXPECT_EQ(board_get_color_space(harness::board_of(board.source), 0, nullptr), GS_CS_SRGB);
	const gs_color_space spaces[] = {GS_CS_SRGB_16F, GS_CS_SRGB};
	EXPECT_EQ(obs_source_get_color_space(board.source, 2, spaces), GS_CS_SRGB_16F);
	const gs_color_space hdr[] = {GS_CS_709_EXTENDED};
	EXPECT_EQ(obs_source_get_color_space(board.source, 1, hdr), GS_CS_709_EXTENDED);
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
