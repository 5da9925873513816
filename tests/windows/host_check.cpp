// SPDX-License-Identifier: GPL-2.0-or-later
// The module inside a real libobs on either platform: the Windows build runs
// under Wine against libobs 32.2.2 built for Windows (scripts/test-windows.sh),
// the Linux build against the usual libobs, so that the same cases rendered
// on both can be compared.
//
//   mistpane-host-check --module DLL --data DIR [--no-graphics | --hdr] [--out DIR]
//   mistpane-host-check --compare WINDOWS_DIR LINUX_DIR
//   mistpane-host-check --cache-entry COMPILED_SHADER CACHE_FILE
//
// Prints one line per check ("ok NAME" or "FAIL NAME: why") and exits with
// the number of failures.
#include <obs-module.h>
#include <util/base.h>
#include <util/bmem.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "board/settings.h"
#include "windows/checks.h"

namespace check {

int failures = 0;

namespace {
std::mutex log_mutex;
std::vector<LogLine> captured;
} // namespace

std::vector<LogLine> log_lines()
{
	std::lock_guard<std::mutex> lock(log_mutex);
	return captured;
}

void report(bool ok, const std::string &name, const std::string &why)
{
	if (ok) {
		std::printf("ok %s\n", name.c_str());
	} else {
		std::printf("FAIL %s: %s\n", name.c_str(), why.c_str());
		++failures;
	}
	std::fflush(stdout);
}

bool logged(const char *fragment)
{
	for (const LogLine &line : log_lines())
		if (line.text.find(fragment) != std::string::npos)
			return true;
	return false;
}

} // namespace check

namespace {

void log_handler(int level, const char *format, va_list args, void *)
{
	char buffer[4096];
	std::vsnprintf(buffer, sizeof(buffer), format, args);
	{
		std::lock_guard<std::mutex> lock(check::log_mutex);
		check::captured.push_back({level, buffer});
	}
	if (level <= LOG_WARNING || std::getenv("MISTPANE_TEST_VERBOSE"))
		std::fprintf(stderr, "[obs %d] %s\n", level, buffer);
}

struct Options {
	std::string module, data, out, capture;
	bool graphics = true;
	bool hdr = false;
};

bool load_module(const Options &options, obs_module_t **module)
{
	const int opened = obs_open_module(module, options.module.c_str(), options.data.c_str());
	check::report(opened == MODULE_SUCCESS, "module opens", "obs_open_module returned " + std::to_string(opened));
	if (opened != MODULE_SUCCESS)
		return false;
	const bool initialised = obs_init_module(*module);
	check::report(initialised, "module initialises", "obs_init_module failed");
	return initialised;
}

bool type_registered(const char *id)
{
	const char *found = nullptr;
	for (size_t i = 0; obs_enum_input_types(i, &found); ++i)
		if (std::strcmp(found, id) == 0)
			return true;
	return false;
}

std::string text_or(const char *text)
{
	return text ? text : "(null)";
}

void check_registration(obs_module_t *module)
{
	check::report(type_registered(check::kBoardId), "source type registered", "no input type korvanta_blur_board");
	const std::string name = text_or(obs_source_get_display_name(check::kBoardId));
	check::report(name == "Blur Board", "display name from the locale", "got " + name);
	const std::string blur = text_or(obs_module_get_locale_text(module, "Mode.Blur"));
	check::report(blur == "Blur", "locale text", "Mode.Blur is " + blur);
}

void check_defaults()
{
	obs_data_t *defaults = obs_get_source_defaults(check::kBoardId);
	const std::string mode = text_or(obs_data_get_string(defaults, setting_keys::kMode));
	const double radius = obs_data_get_double(defaults, setting_keys::kBlurRadius);
	const long long width = obs_data_get_int(defaults, setting_keys::kWidth);
	obs_data_release(defaults);
	check::report(mode == setting_defaults::mode && radius == setting_defaults::blur_radius &&
			  width == setting_defaults::width,
		      "settings defaults",
		      "mode " + mode + ", radius " + std::to_string(radius) + ", width " + std::to_string(width));
}

void check_properties()
{
	obs_properties_t *props = obs_get_source_properties(check::kBoardId);
	const char *keys[] = {setting_keys::kMode, setting_keys::kBlurRadius, setting_keys::kMosaicSize,
			      setting_keys::kCoverColor, setting_keys::kShape};
	std::string missing;
	for (const char *key : keys)
		if (!props || !obs_properties_get(props, key))
			missing += std::string(" ") + key;
	obs_property_t *mode = props ? obs_properties_get(props, setting_keys::kMode) : nullptr;
	const size_t modes = mode ? obs_property_list_item_count(mode) : 0;
	obs_properties_destroy(props);
	check::report(missing.empty() && modes == 3, "properties",
		      "missing" + missing + ", " + std::to_string(modes) + " modes");
}

bool hotkey_registered(const char *name)
{
	struct Search {
		const char *name;
		bool found = false;
	} search{name};
	obs_enum_hotkeys(
	    [](void *data, obs_hotkey_id, obs_hotkey_t *key) {
		    auto *s = static_cast<Search *>(data);
		    s->found = s->found || std::strcmp(obs_hotkey_get_name(key), s->name) == 0;
		    return true;
	    },
	    &search);
	return search.found;
}

void check_hotkeys()
{
	check::report(hotkey_registered("MistPane.Panic"), "panic hotkey registered", "no hotkey MistPane.Panic");
	obs_source_t *board = obs_source_create(check::kBoardId, "host check board", nullptr, nullptr);
	check::report(board && hotkey_registered("BlurBoard.Toggle") && hotkey_registered("BlurBoard.Emergency"),
		      "board hotkeys registered", board ? "BlurBoard.Toggle or .Emergency missing" : "no board");
	obs_source_remove(board);
	obs_source_release(board);
}

bool parse(int argc, char **argv, Options &options)
{
	for (int i = 1; i < argc; ++i) {
		const std::string arg = argv[i];
		const bool has_value = i + 1 < argc;
		if (arg == "--no-graphics")
			options.graphics = false;
		else if (arg == "--hdr")
			options.hdr = true;
		else if (arg == "--module" && has_value)
			options.module = argv[++i];
		else if (arg == "--data" && has_value)
			options.data = argv[++i];
		else if (arg == "--out" && has_value)
			options.out = argv[++i];
		else if (arg == "--capture-shaders" && has_value)
			options.capture = argv[++i];
		else
			return false;
	}
	return !options.module.empty() && !options.data.empty();
}

int usage()
{
	std::fprintf(stderr, "usage: mistpane-host-check --module PATH --data DIR [--no-graphics | --hdr] [--out DIR]\n"
			     "                           [--capture-shaders DIR]\n"
			     "       mistpane-host-check --compare WINDOWS_DIR LINUX_DIR\n"
			     "       mistpane-host-check --cache-entry COMPILED_SHADER CACHE_FILE\n");
	return 2;
}

void finish()
{
	obs_shutdown();
	check::report(check::logged("plugin unloaded"), "module unloads", "no \"plugin unloaded\" in the log");
	const long leaks = bnum_allocs();
	check::report(leaks == 0, "no leaks at shutdown", std::to_string(leaks) + " allocations left");
}

} // namespace

int main(int argc, char **argv)
{
	if (argc == 4 && std::strcmp(argv[1], "--compare") == 0)
		return check::compare(argv[2], argv[3]);
	if (argc == 4 && std::strcmp(argv[1], "--cache-entry") == 0)
		return check::write_cache_entry(argv[2], argv[3]) ? 0 : 1;
	Options options;
	if (!parse(argc, argv, options))
		return usage();
	base_set_log_handler(log_handler, nullptr);
	check::report(obs_startup("en-US", nullptr, nullptr), "host starts", "obs_startup failed");
	if (!options.capture.empty())
		check::report(check::capture_shaders(options.capture), "shader texts caught",
			      "no D3DCompile import in libobs-d3d11.dll");
	if (options.graphics && !check::start_video(options.hdr))
		return finish(), check::failures;
	obs_module_t *module = nullptr;
	if (load_module(options, &module)) {
		check_registration(module);
		check_defaults();
		check_properties();
		check_hotkeys();
		if (options.graphics)
			check::render_cases(options.out);
	}
	finish();
	return check::failures;
}
