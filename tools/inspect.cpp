// SPDX-License-Identifier: GPL-2.0-or-later
// Loads the freshly built module into a real, headless host and prints what
// it registered: the module, the source type, its defaults, properties and
// hotkeys, and the module's own log lines.
#include <obs-module.h>

#include <cstdio>
#include <cstring>

#include "harness/host.h"

namespace {

void print_properties(obs_source_t *board)
{
	obs_properties_t *props = obs_source_properties(board);
	std::printf("properties:\n");
	for (obs_property_t *p = obs_properties_first(props); p; obs_property_next(&p))
		std::printf("  %-20s %s\n", obs_property_name(p), obs_property_description(p));
	obs_properties_destroy(props);
}

bool print_hotkey(void *, obs_hotkey_id, obs_hotkey_t *key)
{
	if (std::strncmp(obs_hotkey_get_name(key), "BlurBoard.", 10) == 0)
		std::printf("  %-20s %s\n", obs_hotkey_get_name(key), obs_hotkey_get_description(key));
	return true;
}

} // namespace

int main()
{
	harness::HostOptions options;
	if (!harness::start(options))
		return 1;

	obs_module_t *module = harness::module();
	std::printf("module:      %s (%s)\n", obs_get_module_name(module), obs_get_module_file_name(module));
	std::printf("description: %s\n", obs_get_module_description(module));

	const char *id = "korvanta_blur_board";
	std::printf("source type: %s \"%s\", output flags 0x%x\n", id, obs_source_get_display_name(id),
		    obs_get_source_output_flags(id));

	obs_data_t *defaults = obs_get_source_defaults(id);
	std::printf("defaults:    %s\n", obs_data_get_json_with_defaults(defaults));
	obs_data_release(defaults);

	obs_source_t *board = harness::make_board("inspected board");
	std::printf("new board:   %ux%u\n", obs_source_get_width(board), obs_source_get_height(board));
	print_properties(board);
	std::printf("hotkeys:\n");
	obs_enum_hotkeys(print_hotkey, board);
	obs_source_release(board);

	const long leaks = harness::stop();
	std::printf("module log lines (level, text):\n");
	for (const harness::LogLine &line : harness::log_matching("[mistpane]"))
		std::printf("  %d %s\n", line.level, line.text.c_str());
	std::printf("host allocations left at shutdown: %ld\n", leaks);
	return leaks == 0 ? 0 : 1;
}
