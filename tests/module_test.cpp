// SPDX-License-Identifier: GPL-2.0-or-later
// The module frame as the host sees it: entry points, registration, log.
#include <obs-module.h>
#include <util/platform.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "harness/host.h"
#include "render/board_effect.h"

namespace {

bool without_locale = false;

TEST(ModuleEntry, ExportsTheVersionNameAndDescription)
{
	obs_module_t *module = harness::module();
	ASSERT_NE(module, nullptr);
	EXPECT_STREQ(obs_get_module_name(module), "MistPane");
	EXPECT_STREQ(obs_get_module_description(module),
		     "MistPane: camera effects for streamers (blur / mosaic board)");
	EXPECT_STREQ(obs_get_module_file_name(module), "mistpane.so");

	auto *ver = reinterpret_cast<uint32_t (*)()>(os_dlsym(obs_get_module_lib(module), "obs_module_ver"));
	ASSERT_NE(ver, nullptr);
	EXPECT_EQ(ver(), 0x20020002u);
	for (const char *entry :
	     {"obs_module_set_pointer", "obs_module_set_locale", "obs_module_free_locale", "obs_module_get_string",
	      "obs_module_name", "obs_module_description", "obs_module_load", "obs_module_unload"})
		EXPECT_NE(os_dlsym(obs_get_module_lib(module), entry), nullptr) << entry;
}

TEST(ModuleEntry, RegistersTheBoardTypeWithItsFlagsAndLocaleName)
{
	bool listed = false;
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_input_types(i, &id); ++i)
		listed = listed || std::strcmp(id, "korvanta_blur_board") == 0;
	EXPECT_TRUE(listed);
	EXPECT_EQ(obs_get_source_output_flags("korvanta_blur_board"), 0x8009u);
	EXPECT_STREQ(obs_source_get_display_name("korvanta_blur_board"), without_locale ? "BlurBoard" : "Blur Board");
}

TEST(ModuleEntry, LooksUpLocaleTextsAndFallsBackToTheKey)
{
	if (without_locale) {
		// Every text shows its key, in the properties too.
		obs_properties_t *props = obs_get_source_properties("korvanta_blur_board");
		EXPECT_STREQ(obs_property_description(obs_properties_get(props, "mode")), "Mode");
		EXPECT_STREQ(obs_property_description(obs_properties_get(props, "help")), "BlurBoard.Help");
		obs_properties_destroy(props);
		return;
	}
	const char *text = nullptr;
	EXPECT_TRUE(obs_module_get_locale_string(harness::module(), "Mode", &text));
	EXPECT_STREQ(text, "Effect");
	EXPECT_FALSE(obs_module_get_locale_string(harness::module(), "No.Such.Key", &text));
}

TEST(ModuleEntry, LogsTheLoadedLineWithPrefixLevelAndVersion)
{
	auto lines = harness::log_matching("plugin loaded successfully");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].text, "[mistpane] plugin loaded successfully (version " MISTPANE_VERSION ")");
	EXPECT_EQ(lines[0].level, LOG_INFO);
	EXPECT_TRUE(harness::log_matching("shader").empty());
}

// The same effect code the module runs, compiled here once more so that
// its holder can be inspected.
TEST(BoardEffect, CompilesWithAllParametersOnRealOpenGL)
{
	harness::clear_log();
	ASSERT_TRUE(board_effect_load());
	ASSERT_NE(board_effect.effect, nullptr);
	const gs_eparam_t *params[] = {
	    board_effect.image,       board_effect.uv_min,       board_effect.uv_max,        board_effect.blur_step,
	    board_effect.blur_wa,     board_effect.cap_origin,   board_effect.cap_inv_size,  board_effect.grid_origin,
	    board_effect.grid_dim,    board_effect.cell_size,    board_effect.pos_origin,    board_effect.pos_du,
	    board_effect.pos_dv,      board_effect.hatch_color,  board_effect.orig,          board_effect.orig_uv_min,
	    board_effect.orig_uv_max, board_effect.local_origin, board_effect.shape_rect,    board_effect.shape_kind,
	    board_effect.feather,     board_effect.blur_wb,      board_effect.blur_wc,       board_effect.blur_center,
	    board_effect.local_du,    board_effect.local_dv,     board_effect.corner_radius, board_effect.invert};
	EXPECT_EQ(sizeof(params) / sizeof(params[0]), 28u);
	for (const gs_eparam_t *param : params)
		EXPECT_NE(param, nullptr);
	EXPECT_NE(board_effect.point_sampler, nullptr);
	for (const char *technique :
	     {"Down", "Halve", "Blur", "Blur1", "Blur12", "Reduce", "ReducePoint", "FinalBlur", "FinalMosaic",
	      "FinalBlurShaped", "FinalMosaicShaped", "FinalCoverImageCanvas", "Hatch"})
		EXPECT_NE(gs_effect_get_technique(board_effect.effect, technique), nullptr) << technique;
	EXPECT_TRUE(harness::log_matching("board shader").empty());
	// One literal: MSVC takes at most 16380 characters in one.
	EXPECT_LT(std::strlen(board_effect_text), 13000u);
	board_effect_unload();
	EXPECT_EQ(board_effect.effect, nullptr);
	EXPECT_EQ(board_effect.point_sampler, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	for (int i = 1; i < argc; ++i)
		if (std::string(argv[i]) == "--no-locale") {
			without_locale = true;
			options.data_path = "/nonexistent/mistpane-data";
		}
	return harness::run_tests(argc, argv, options);
}
