// SPDX-License-Identifier: GPL-2.0-or-later
// Loads the module as OBS Studio does at start-up, from where it was
// installed: libobs's own plug-in folders and the per-user folder that the
// frontend adds, every other plug-in left out. The folders it must come
// from are given by MISTPANE_EXPECT_BIN and MISTPANE_EXPECT_DATA.
// MISTPANE_HOST_BIN and MISTPANE_HOST_DATA add one more pair as libobs
// itself does, for folders another build of the host has compiled in
// (OBS's Flatpak: /app/plugins/lib/obs-plugins and
// /app/plugins/share/obs/obs-plugins/%module%).
#include <obs-module.h>
#include <util/bmem.h>
#include <util/platform.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harness/host.h"

namespace {

TEST(Installed, LoadsFromItsFolders)
{
	const char *bin = std::getenv("MISTPANE_EXPECT_BIN");
	const char *data = std::getenv("MISTPANE_EXPECT_DATA");
	ASSERT_TRUE(bin && data);

	// The frontend's per-user folder, as OBSBasic adds it on Linux.
	char *user = os_get_config_path_ptr("obs-studio/plugins/%module%");
	ASSERT_NE(user, nullptr);
	obs_add_module_path((std::string(user) + "/bin/64bit").c_str(), (std::string(user) + "/data").c_str());
	bfree(user);
	const char *host_bin = std::getenv("MISTPANE_HOST_BIN");
	const char *host_data = std::getenv("MISTPANE_HOST_DATA");
	if (host_bin && host_data)
		obs_add_module_path(host_bin, host_data);
	obs_add_safe_module("mistpane");
	obs_module_failure_info failures = {};
	obs_load_all_modules2(&failures);
	obs_module_failure_info_free(&failures);
	obs_log_loaded_modules();
	obs_post_load_modules();

	obs_module_t *module = obs_get_module("mistpane");
	ASSERT_NE(module, nullptr) << "the host found no mistpane module";
	EXPECT_STREQ(obs_get_module_binary_path(module), bin);
	EXPECT_STREQ(obs_get_module_data_path(module), data);
	EXPECT_EQ(harness::log_matching("[mistpane] plugin loaded successfully (version " MISTPANE_VERSION ")").size(),
		  1u);
	EXPECT_EQ(harness::log_matching("    mistpane.so").size(), 1u) << "not in the host's list of loaded modules";

	bool listed = false;
	const char *id = nullptr;
	for (size_t i = 0; obs_enum_input_types(i, &id); ++i)
		listed = listed || std::strcmp(id, "korvanta_blur_board") == 0;
	EXPECT_TRUE(listed);
	// Texts and manifest come from the installed data folder.
	EXPECT_STREQ(obs_source_get_display_name("korvanta_blur_board"), "Blur Board");
	EXPECT_STREQ(obs_get_module_version(module), MISTPANE_VERSION);

	for (const harness::LogLine &line : harness::log_lines())
		if (line.text.find("mistpane") != std::string::npos)
			std::printf("host log: %s\n", line.text.c_str());
	std::printf("loaded %s with data %s\n", obs_get_module_binary_path(module), obs_get_module_data_path(module));
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	options.load_module = false;
	return harness::run_tests(argc, argv, options);
}
