// SPDX-License-Identifier: GPL-2.0-or-later
// The property list as the host builds it for its properties view: controls,
// their ranges and texts, the status line and the mode switch.
#include <obs-module.h>
#include <util/platform.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "board/blur_board.h"
#include "harness/board.h"
#include "harness/host.h"

namespace {

// Keys left out of the locale file in the run with --missing-keys.
const std::set<std::string> kDroppedKeys = {"Mode", "Unit.Seconds", "Status.NotPlaced", "Hotkey.Toggle"};
bool missing_keys = false;

// The text the module's locale holds for a key; fails the test when the
// en-US file has none, so that no control shows a bare key to the user.
std::string text(const char *key)
{
	const char *out = nullptr;
	if (!obs_module_get_locale_string(harness::module(), key, &out)) {
		ADD_FAILURE() << "en-US.ini has no text for " << key;
		return key;
	}
	return out;
}

enum class Kind { Info, Warning, List, Float, Int, Bool, Color, Path };

struct Expected {
	const char *key;
	Kind kind;
	const char *label_key; // for an information line, the key of its text
	double min, max, step;
	const char *suffix; // literal, or nullptr for the translated seconds
	const char *desc_key; // nullptr: no long description
};

// Everything after the status line, in order; the note lines repeat the
// long description of the control above them.
const std::vector<Expected> kList = {
    {"help", Kind::Info, "BlurBoard.Help", 0, 0, 0, "", nullptr},
    {"mode", Kind::List, "Mode", 0, 0, 0, "", "Mode.Desc"},
    {"mode_guidance", Kind::Info, "Mode.Guidance", 0, 0, 0, "", nullptr},
    {"cover_color", Kind::Color, "CoverColor", 0, 0, 0, "", "CoverColor.Desc"},
    {"cover_image", Kind::Path, "CoverImage", 0, 0, 0, "", "CoverImage.Desc"},
    {"blur_radius", Kind::Float, "BlurRadius", 0, 200, 0.5, " px", "BlurRadius.Desc"},
    {"blur_radius_note", Kind::Info, "BlurRadius.Desc", 0, 0, 0, "", nullptr},
    {"blur_radius_warning", Kind::Warning, "BlurRadius.Warning", 0, 0, 0, "", nullptr},
    {"mosaic_size", Kind::Float, "MosaicSize", 2, 200, 1, " px", "MosaicSize.Desc"},
    {"mosaic_size_note", Kind::Info, "MosaicSize.Desc", 0, 0, 0, "", nullptr},
    {"mosaic_size_warning", Kind::Warning, "MosaicSize.Warning", 0, 0, 0, "", nullptr},
    {"shape", Kind::List, "Shape", 0, 0, 0, "", "Shape.Desc"},
    {"corner_radius", Kind::Float, "CornerRadius", 0, 500, 1, " px", "CornerRadius.Desc"},
    {"feather", Kind::Float, "Feather", 0, 300, 1, " px", "Feather.Desc"},
    {"feather_note", Kind::Info, "Feather.Desc", 0, 0, 0, "", nullptr},
    {"feather_cover_note", Kind::Info, "Feather.CoverNote", 0, 0, 0, "", nullptr},
    {"invert", Kind::Bool, "Invert", 0, 0, 0, "", "Invert.Desc"},
    {"strength", Kind::Float, "Strength", 0, 100, 1, " %", "Strength.Desc"},
    {"strength_note", Kind::Info, "Strength.Desc", 0, 0, 0, "", nullptr},
    {"enabled", Kind::Bool, "Enabled", 0, 0, 0, "", "Enabled.Desc"},
    {"fade_seconds", Kind::Float, "Fade", 0, 10, 0.05, nullptr, "Fade.Desc"},
    {"fade_note", Kind::Info, "Fade.Desc", 0, 0, 0, "", nullptr},
    {"width", Kind::Int, "Width", 1, 16384, 1, " px", "Size.Desc"},
    {"height", Kind::Int, "Height", 1, 16384, 1, " px", "Size.Desc"},
    {"size_note", Kind::Info, "Size.Desc", 0, 0, 0, "", nullptr},
    {"emergency", Kind::Bool, "Emergency", 0, 0, 0, "", "Emergency.Desc"},
    {"emergency_size", Kind::Float, "EmergencySize", 1, 25, 0.5, " %", "EmergencySize.Desc"},
    {"emergency_size_note", Kind::Info, "EmergencySize.Desc", 0, 0, 0, "", nullptr},
};

std::vector<std::string> keys_of(obs_properties_t *props)
{
	std::vector<std::string> keys;
	for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p))
		keys.push_back(obs_property_name(p));
	return keys;
}

std::vector<std::string> expected_keys(bool with_status)
{
	std::vector<std::string> keys;
	if (with_status)
		keys.push_back("status");
	for (const Expected &e : kList)
		keys.push_back(e.key);
	return keys;
}

void expect_list_entries(obs_property_t *p, std::vector<std::pair<const char *, const char *>> entries)
{
	EXPECT_EQ(obs_property_list_type(p), OBS_COMBO_TYPE_LIST);
	EXPECT_EQ(obs_property_list_format(p), OBS_COMBO_FORMAT_STRING);
	ASSERT_EQ(obs_property_list_item_count(p), entries.size());
	for (size_t i = 0; i < entries.size(); ++i) {
		EXPECT_EQ(obs_property_list_item_name(p, i), text(entries[i].first));
		EXPECT_STREQ(obs_property_list_item_string(p, i), entries[i].second);
	}
}

void expect_control(obs_property_t *p, const Expected &e)
{
	SCOPED_TRACE(e.key);
	ASSERT_NE(p, nullptr);
	EXPECT_EQ(obs_property_description(p), text(e.label_key));
	if (e.desc_key)
		EXPECT_EQ(obs_property_long_description(p) ? obs_property_long_description(p) : "", text(e.desc_key));
	else
		EXPECT_EQ(obs_property_long_description(p), nullptr);
	const std::string suffix = e.suffix ? e.suffix : text("Unit.Seconds");
	switch (e.kind) {
	case Kind::Info:
		ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_TEXT);
		EXPECT_EQ(obs_property_text_type(p), OBS_TEXT_INFO);
		EXPECT_EQ(obs_property_text_info_type(p), OBS_TEXT_INFO_NORMAL);
		break;
	case Kind::Warning:
		ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_TEXT);
		EXPECT_EQ(obs_property_text_type(p), OBS_TEXT_INFO);
		EXPECT_EQ(obs_property_text_info_type(p), OBS_TEXT_INFO_WARNING);
		break;
	case Kind::List:
		ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_LIST);
		break;
	case Kind::Float:
		ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_FLOAT);
		EXPECT_EQ(obs_property_float_type(p), OBS_NUMBER_SLIDER);
		EXPECT_EQ(obs_property_float_min(p), e.min);
		EXPECT_EQ(obs_property_float_max(p), e.max);
		EXPECT_EQ(obs_property_float_step(p), e.step);
		EXPECT_EQ(obs_property_float_suffix(p), suffix);
		break;
	case Kind::Int:
		ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_INT);
		EXPECT_EQ(obs_property_int_type(p), OBS_NUMBER_SCROLLER);
		EXPECT_EQ(obs_property_int_min(p), e.min);
		EXPECT_EQ(obs_property_int_max(p), e.max);
		EXPECT_EQ(obs_property_int_step(p), e.step);
		EXPECT_EQ(obs_property_int_suffix(p), suffix);
		break;
	case Kind::Bool:
		EXPECT_EQ(obs_property_get_type(p), OBS_PROPERTY_BOOL);
		break;
	case Kind::Color:
		EXPECT_EQ(obs_property_get_type(p), OBS_PROPERTY_COLOR);
		break;
	case Kind::Path:
		ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_PATH);
		EXPECT_EQ(obs_property_path_type(p), OBS_PATH_FILE);
		EXPECT_EQ(std::string(obs_property_path_filter(p)).rfind(text("CoverImage.Files") + " (*.png", 0), 0u)
		    << obs_property_path_filter(p);
		break;
	}
}

std::string hotkey_description(obs_hotkey_id wanted)
{
	struct Search {
		obs_hotkey_id id;
		std::string description;
	} search{wanted, "(not registered)"};
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id id, obs_hotkey_t *key) {
		    auto *s = static_cast<Search *>(data);
		    if (id == s->id)
			    s->description = obs_hotkey_get_description(key);
		    return true;
	    },
	    &search);
	return search.description;
}

bool visible(obs_properties_t *props, const char *key)
{
	return obs_property_visible(obs_properties_get(props, key));
}

// Looked up by name in a scene by one case.
constexpr const char *kBoard = "properties board";

using harness::Board;

class Properties : public ::testing::Test {};

TEST_F(Properties, EveryControlInOrderWithItsRangeSuffixAndTexts)
{
	Board board(kBoard);
	obs_properties_t *props = obs_source_properties(board.source);
	ASSERT_NE(props, nullptr);
	EXPECT_EQ(keys_of(props), expected_keys(true));
	for (const Expected &e : kList)
		expect_control(obs_properties_get(props, e.key), e);
	expect_list_entries(obs_properties_get(props, "mode"),
			    {{"Mode.Blur", "blur"}, {"Mode.Mosaic", "mosaic"}, {"Mode.Cover", "cover"}});
	expect_list_entries(obs_properties_get(props, "shape"),
			    {{"Shape.Rect", "rect"}, {"Shape.Ellipse", "ellipse"}, {"Shape.Rounded", "rounded"}});
	EXPECT_EQ(obs_properties_get(props, "force_redraw"), nullptr) << "the hidden setting has no control";
	EXPECT_EQ(obs_property_float_suffix(obs_properties_get(props, "fade_seconds")), std::string(" s"));
	obs_properties_destroy(props);
}

TEST_F(Properties, TheTypeAsSuchStartsWithHelpAndAppliesTheDefaults)
{
	obs_properties_t *props = obs_get_source_properties("korvanta_blur_board");
	ASSERT_NE(props, nullptr);
	EXPECT_EQ(keys_of(props), expected_keys(false));
	for (const Expected &e : kList)
		expect_control(obs_properties_get(props, e.key), e);
	// The host ran the mode callback with the defaults: blur.
	EXPECT_TRUE(visible(props, "blur_radius"));
	EXPECT_TRUE(visible(props, "blur_radius_note"));
	EXPECT_FALSE(visible(props, "mosaic_size"));
	EXPECT_FALSE(visible(props, "mosaic_size_note"));
	obs_properties_destroy(props);
}

TEST_F(Properties, AnUnplacedBoardSaysSoInAPlainLineFirst)
{
	Board board(kBoard);
	harness::next_frames(2);
	obs_properties_t *props = obs_source_properties(board.source);
	obs_property_t *status = obs_properties_first(props);
	ASSERT_NE(status, nullptr);
	EXPECT_STREQ(obs_property_name(status), "status");
	EXPECT_EQ(obs_property_get_type(status), OBS_PROPERTY_TEXT);
	EXPECT_EQ(obs_property_text_type(status), OBS_TEXT_INFO);
	EXPECT_EQ(obs_property_text_info_type(status), OBS_TEXT_INFO_NORMAL);
	EXPECT_EQ(obs_property_description(status), text("Status.NotPlaced"));
	EXPECT_TRUE(obs_property_visible(status));
	obs_properties_destroy(props);
}

// Status lines of boards that scene items hold; the tick turns the items into
// the status, so each case waits for frames after the scene changes.
class PlacedProperties : public Properties {
      protected:
	void TearDown() override
	{
		obs_set_output_source(0, nullptr);
		for (obs_scene_t *scene : scenes)
			harness::release_scene(scene);
		harness::next_frames(2);
	}
	// Frames reach the test a few ticks late; wait for the tick that saw the
	// change rather than for a number of frames.
	static void settle(obs_source_t *source, PlacementStatus status)
	{
		const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
		while (harness::board_of(source)->placement_status.load() != status &&
		       std::chrono::steady_clock::now() < deadline)
			harness::next_frames(1);
		harness::next_frames(1);
	}
	obs_scene_t *scene(const char *name)
	{
		scenes.push_back(harness::make_scene(name));
		return scenes.back();
	}
	std::vector<obs_scene_t *> scenes;
};

TEST_F(PlacedProperties, APlacedBoardHasNoStatusLineAndASharedOneWarns)
{
	Board board(kBoard);
	obs_scene_t *first = scene("first");
	obs_sceneitem_t *item = obs_scene_add(first, board.source);
	ASSERT_NE(item, nullptr);
	settle(board.source, PlacementStatus::Placed);
	obs_properties_t *props = obs_source_properties(board.source);
	EXPECT_EQ(keys_of(props), expected_keys(false));
	obs_properties_destroy(props);

	// A second item, in a scene that is not even shown, makes it shared.
	obs_scene_t *second = scene("second");
	ASSERT_NE(obs_scene_add(second, board.source), nullptr);
	settle(board.source, PlacementStatus::Shared);
	props = obs_source_properties(board.source);
	EXPECT_EQ(keys_of(props), expected_keys(true));
	obs_property_t *status = obs_properties_first(props);
	EXPECT_EQ(obs_property_text_type(status), OBS_TEXT_INFO);
	EXPECT_EQ(obs_property_text_info_type(status), OBS_TEXT_INFO_WARNING);
	EXPECT_EQ(obs_property_description(status), text("Status.Shared"));
	obs_properties_destroy(props);

	// Both items gone: not placed any more.
	obs_sceneitem_remove(item);
	obs_sceneitem_remove(obs_scene_find_source(second, kBoard));
	settle(board.source, PlacementStatus::NotPlaced);
	props = obs_source_properties(board.source);
	status = obs_properties_first(props);
	EXPECT_EQ(obs_property_text_info_type(status), OBS_TEXT_INFO_NORMAL);
	EXPECT_EQ(obs_property_description(status), text("Status.NotPlaced"));
	obs_properties_destroy(props);
}

// The list is a snapshot: the line it was built with stays until the host
// asks for a new list.
TEST_F(PlacedProperties, TheStatusLineIsTheOneOfTheMomentTheListWasBuilt)
{
	Board board(kBoard);
	obs_properties_t *before = obs_source_properties(board.source);
	obs_scene_t *only = scene("only");
	ASSERT_NE(obs_scene_add(only, board.source), nullptr);
	settle(board.source, PlacementStatus::Placed);
	EXPECT_EQ(keys_of(before), expected_keys(true));
	obs_properties_t *after = obs_source_properties(board.source);
	EXPECT_EQ(keys_of(after), expected_keys(false));
	obs_properties_destroy(before);
	obs_properties_destroy(after);
}

// The controls each mode shows; "mosaic" and "cover" compare exactly and
// every other value (or none) is blur.
TEST_F(Properties, EachModeShowsItsOwnControls)
{
	const std::vector<std::string> switched = {
	    "mode_guidance", "cover_color",      "cover_image",        "blur_radius", "blur_radius_note",
	    "mosaic_size",   "mosaic_size_note", "feather_cover_note", "strength",    "strength_note"};
	const std::set<std::string> blur = {"mode_guidance", "blur_radius", "blur_radius_note", "strength",
					    "strength_note"};
	const std::set<std::string> mosaic = {"mode_guidance", "mosaic_size", "mosaic_size_note", "strength",
					      "strength_note"};
	const std::set<std::string> cover = {"cover_color", "cover_image", "feather_cover_note"};
	struct Case {
		const char *mode; // nullptr: no "mode" at all
		const std::set<std::string> &shown;
	};
	const Case cases[] = {{"cover", cover},  {"blur", blur},     {"mosaic", mosaic}, {"Mosaic", blur},
			      {"mosaic ", blur}, {"Cover", blur},    {"", blur},         {"pixelate", blur},
			      {nullptr, blur},   {"mosaic", mosaic}, {"cover", cover}};
	Board board(kBoard, R"({"mode": "cover"})");
	obs_properties_t *props = obs_source_properties(board.source);
	// The host ran the callback with the board's settings when it built the list.
	for (const std::string &key : switched)
		EXPECT_EQ(visible(props, key.c_str()), cover.count(key) == 1) << "as built: " << key;

	obs_property_t *mode = obs_properties_get(props, "mode");
	for (const Case &c : cases) {
		SCOPED_TRACE(c.mode ? c.mode : "(none)");
		obs_data_t *settings = obs_data_create();
		if (c.mode)
			obs_data_set_string(settings, "mode", c.mode);
		EXPECT_TRUE(obs_property_modified(mode, settings)) << "the host must redraw the list";
		for (const std::string &key : switched)
			EXPECT_EQ(visible(props, key.c_str()), c.shown.count(key) == 1) << key;
		obs_data_release(settings);
	}
	// Nothing else changes its visibility.
	std::set<std::string> changing(switched.begin(), switched.end());
	changing.insert({"blur_radius_warning", "mosaic_size_warning", "corner_radius"}); // the shape's
	for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p))
		if (!changing.count(obs_property_name(p)))
			EXPECT_TRUE(obs_property_visible(p)) << obs_property_name(p);
	obs_properties_destroy(props);
}

// The corner radius shows for "rounded" alone, compared exactly as update
// reads the shape.
TEST_F(Properties, TheCornerRadiusShowsForARoundedRectangleOnly)
{
	Board board(kBoard, R"({"shape": "rounded"})");
	obs_properties_t *props = obs_source_properties(board.source);
	EXPECT_TRUE(visible(props, "corner_radius")) << "as built";
	obs_property_t *shape = obs_properties_get(props, "shape");
	for (const auto &[word, shown] : {std::pair{"rect", false},
					  {"rounded", true},
					  {"ellipse", false},
					  {"Rounded", false},
					  {"rounded ", false},
					  {"", false},
					  {"rounded", true}}) {
		obs_data_t *settings = obs_data_create();
		obs_data_set_string(settings, "shape", word);
		EXPECT_TRUE(obs_property_modified(shape, settings)) << word;
		EXPECT_EQ(visible(props, "corner_radius"), shown) << word;
		obs_data_release(settings);
	}
	obs_properties_destroy(props);
	props = obs_get_source_properties("korvanta_blur_board");
	EXPECT_FALSE(visible(props, "corner_radius")) << "the default shape is a rectangle";
	obs_properties_destroy(props);
}

TEST_F(Properties, WarningsShowExactlyWhileTheSettingHidesLittle)
{
	// What the board really uses is the setting times the strength squared:
	// a blur under 20 px, cells under 8 px hide too little.
	struct Case {
		const char *settings;
		const char *warning; // nullptr: none shown
		const char *figures; // "used/needed" in the text
	};
	const Case cases[] = {
	    {R"({"blur_radius": 20})", nullptr, ""},
	    {R"({"blur_radius": 19.5})", "blur_radius_warning", "19.5/20"},
	    {R"({"blur_radius": 20, "strength": 50})", "blur_radius_warning", "5/80"},
	    {R"({"blur_radius": 80, "strength": 50})", nullptr, ""},
	    {R"({"blur_radius": 2, "mode": "mosaic"})", nullptr, ""},
	    {R"({"mode": "mosaic", "mosaic_size": 8})", nullptr, ""},
	    {R"({"mode": "mosaic", "mosaic_size": 7})", "mosaic_size_warning", "7/8"},
	    {R"({"mode": "mosaic", "mosaic_size": 24, "strength": 50})", "mosaic_size_warning", "6.8/29"},
	    {R"({"mode": "mosaic", "mosaic_size": 29, "strength": 50})", nullptr, ""},
	    {R"({"blur_radius": 100, "strength": 0})", "blur_radius_warning", "0/9999+"},
	    {R"({"mode": "cover", "blur_radius": 2, "mosaic_size": 2, "strength": 10})", nullptr, ""},
	};
	Board board(kBoard);
	obs_properties_t *props = obs_source_properties(board.source);
	for (const Case &c : cases) {
		SCOPED_TRACE(c.settings);
		obs_data_t *settings = harness::json(c.settings);
		// Each of the four controls refreshes the list.
		for (const char *control : {"mode", "blur_radius", "mosaic_size", "strength"}) {
			EXPECT_TRUE(obs_property_modified(obs_properties_get(props, control), settings)) << control;
			for (const char *name : {"blur_radius_warning", "mosaic_size_warning"})
				EXPECT_EQ(visible(props, name), c.warning && std::string(name) == c.warning)
				    << control << " " << name;
		}
		if (c.warning) {
			const std::string figures = c.figures;
			const std::string used = figures.substr(0, figures.find('/'));
			const std::string needed = figures.substr(figures.find('/') + 1);
			const std::string shown = obs_property_description(obs_properties_get(props, c.warning));
			EXPECT_NE(shown.find(used + " px"), std::string::npos) << shown;
			EXPECT_NE(shown.find(needed + " px"), std::string::npos) << shown;
			EXPECT_EQ(shown.find('{'), std::string::npos) << shown;
		}
		obs_data_release(settings);
	}
	obs_properties_destroy(props);
}

TEST_F(Properties, TheListKeepsNoPointerToTheBoard)
{
	Board *board = new Board(kBoard, R"({"mode": "mosaic"})");
	obs_properties_t *props = obs_source_properties(board->source);
	delete board;
	obs_wait_for_destroy_queue();
	obs_data_t *settings = harness::json(R"({"mode": "blur"})");
	EXPECT_TRUE(obs_property_modified(obs_properties_get(props, "mode"), settings));
	EXPECT_TRUE(visible(props, "blur_radius"));
	obs_data_release(settings);
	obs_properties_destroy(props);
}

// Run with a locale file that lacks some keys: those texts show the key,
// the others still come from the file.
TEST(MissingKeys, ShowTheKeyWhereTheLocaleHasNoText)
{
	Board board(kBoard);
	obs_properties_t *props = obs_source_properties(board.source);
	EXPECT_STREQ(obs_property_description(obs_properties_get(props, "mode")), "Mode");
	EXPECT_STREQ(obs_property_float_suffix(obs_properties_get(props, "fade_seconds")), "Unit.Seconds");
	EXPECT_STREQ(obs_property_description(obs_properties_get(props, "status")), "Status.NotPlaced");
	EXPECT_STREQ(obs_property_list_item_name(obs_properties_get(props, "mode"), 0), "Blur");
	EXPECT_STREQ(obs_property_description(obs_properties_get(props, "blur_radius")), "Blur radius");
	obs_properties_destroy(props);

	const BlurBoard *b = harness::board_of(board.source);
	EXPECT_EQ(hotkey_description(b->toggle_hotkey), "Hotkey.Toggle");
	EXPECT_EQ(hotkey_description(b->emergency_hotkey), text("Hotkey.Emergency"));
}

// A copy of the module's data folder whose en-US file lacks kDroppedKeys.
std::string write_partial_locale()
{
	char pattern[] = "/tmp/mistpane-locale-XXXXXX";
	const char *dir = mkdtemp(pattern);
	if (!dir)
		return {};
	const std::filesystem::path root(dir);
	std::filesystem::create_directories(root / "locale");
	std::ifstream in(std::string(MISTPANE_SOURCE_DIR) + "/data/locale/en-US.ini");
	std::ofstream out(root / "locale" / "en-US.ini");
	std::string line;
	while (std::getline(in, line)) {
		const std::string key = line.substr(0, line.find('='));
		if (!kDroppedKeys.count(key))
			out << line << '\n';
	}
	return root.string();
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	for (int i = 1; i < argc; ++i)
		missing_keys = missing_keys || std::string(argv[i]) == "--missing-keys";
	// Each run holds only the tests for its locale; a --gtest_filter given
	// on the command line still wins.
	::testing::GTEST_FLAG(filter) = missing_keys ? "MissingKeys.*" : "-MissingKeys.*";
	if (missing_keys) {
		options.data_path = write_partial_locale();
		if (options.data_path.empty())
			return 2;
	}
	const int result = harness::run_tests(argc, argv, options);
	if (missing_keys)
		std::filesystem::remove_all(options.data_path);
	return result;
}
