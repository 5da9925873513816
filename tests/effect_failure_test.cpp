// SPDX-License-Identifier: GPL-2.0-or-later
// A board effect that does not compile: the module still loads, says why in
// the right order, registers the type, and boards exist but draw nothing.
#include <obs-module.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "harness/host.h"

namespace {
bool with_message = true;
}

// Interposes the host's compiler for the board's effect only; the module
// binds to this definition because the test binary exports it.
extern "C" gs_effect_t *gs_effect_create(const char *effect_string, const char *filename, char **error_string)
{
	if (filename && std::strcmp(filename, "mistpane-board.effect") == 0) {
		if (error_string)
			*error_string = with_message ? bstrdup("mistpane-board.effect (3, 7): syntax error") : nullptr;
		return nullptr;
	}
	using Create = gs_effect_t *(*)(const char *, const char *, char **);
	static auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "gs_effect_create"));
	return real(effect_string, filename, error_string);
}

namespace {

size_t index_of(const std::vector<harness::LogLine> &lines, const std::string &fragment)
{
	for (size_t i = 0; i < lines.size(); ++i)
		if (lines[i].text.find(fragment) != std::string::npos)
			return i;
	return lines.size();
}

TEST(EffectFailure, LogsTheErrorThenTheWarningThenTheLoadedLine)
{
	const auto lines = harness::log_lines();
	const size_t error = index_of(lines, "board shader failed to compile");
	const size_t warning = index_of(lines, "the board will draw nothing because its shader is missing");
	const size_t loaded = index_of(lines, "plugin loaded successfully");
	ASSERT_LT(error, lines.size());
	ASSERT_LT(warning, lines.size());
	ASSERT_LT(loaded, lines.size());
	EXPECT_LT(error, warning);
	EXPECT_LT(warning, loaded);
	EXPECT_EQ(lines[error].level, LOG_ERROR);
	EXPECT_EQ(lines[warning].level, LOG_WARNING);
	EXPECT_EQ(lines[loaded].level, LOG_INFO);
	const std::string expected =
	    with_message ? "[mistpane] board shader failed to compile: mistpane-board.effect (3, 7): syntax error"
			 : "[mistpane] board shader failed to compile: (no message)";
	EXPECT_EQ(lines[error].text, expected);
	EXPECT_EQ(lines[warning].text, "[mistpane] the board will draw nothing because its shader is missing");
}

TEST(EffectFailure, TheTypeIsStillListedAndBoardsCoverTheirArea)
{
	bool listed = false;
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_input_types(i, &id); ++i)
		listed = listed || std::strcmp(id, "korvanta_blur_board") == 0;
	EXPECT_TRUE(listed);

	obs_source_t *pattern = harness::make_pattern("picture", 640, 360, "checker", 4);
	obs_source_t *board = harness::make_board("board", R"({"width": 320, "height": 180})");
	ASSERT_NE(board, nullptr);
	EXPECT_EQ(obs_source_get_width(board), 320u);
	obs_scene_t *scene = harness::make_scene("scene");
	obs_scene_add(scene, pattern);
	obs_scene_add(scene, board);
	obs_set_output_source(0, obs_scene_get_source(scene));
	// A frame made after the scene went on: under load the output still
	// delivers older ones for a while.
	const harness::Image frame = harness::settled_frame();
	obs_set_output_source(0, nullptr);

	// The board cannot blur, so it covers its area with an opaque fill;
	// the picture beside it is untouched.
	ASSERT_FALSE(frame.empty());
	size_t differing = 0, uncovered = 0;
	for (uint32_t y = 0; y < frame.height; ++y)
		for (uint32_t x = 0; x < frame.width; ++x) {
			const int v = frame.at(x, y)[0];
			if (x < 320 && y < 180)
				uncovered += std::abs(v - 31) > 2; // the dark grey fill
			else
				differing += std::abs(v - ((((x / 4) + (y / 4)) & 1) ? 255 : 0)) > 2;
		}
	EXPECT_EQ(differing, 0u);
	EXPECT_EQ(uncovered, 0u);
	EXPECT_EQ(harness::log_matching("cannot show its effect (its effect is not loaded)").size(), 1u);

	harness::release_scene(scene);
	obs_source_release(board);
	obs_source_release(pattern);
}

// Inverted, a board hides all but its shape, and the emergency cover all
// of the canvas: without the effect either covers the whole canvas.
TEST(EffectFailure, InvertedAndEmergencyBoardsCoverTheWholeCanvas)
{
	for (const char *settings : {R"({"width": 320, "height": 180, "invert": true})",
				     R"({"width": 320, "height": 180, "emergency": true})"}) {
		obs_source_t *pattern = harness::make_pattern("picture", 640, 360, "checker", 4);
		obs_source_t *board = harness::make_board("board", settings);
		obs_scene_t *scene = harness::make_scene("scene");
		obs_scene_add(scene, pattern);
		obs_sceneitem_t *item = obs_scene_add(scene, board);
		vec2 pos;
		vec2_set(&pos, 100.0f, 60.0f);
		obs_sceneitem_set_pos(item, &pos);
		obs_set_output_source(0, obs_scene_get_source(scene));
		const harness::Image frame = harness::settled_frame();
		obs_set_output_source(0, nullptr);
		ASSERT_FALSE(frame.empty());
		size_t uncovered = 0;
		for (uint32_t y = 0; y < frame.height; ++y)
			for (uint32_t x = 0; x < frame.width; ++x)
				uncovered += std::abs(frame.at(x, y)[0] - 31) > 2;
		EXPECT_EQ(uncovered, 0u) << settings;
		harness::release_scene(scene);
		obs_source_release(board);
		obs_source_release(pattern);
	}
}

} // namespace

int main(int argc, char **argv)
{
	for (int i = 1; i < argc; ++i)
		if (std::strcmp(argv[i], "--no-message") == 0)
			with_message = false;
	return harness::run_tests(argc, argv);
}
