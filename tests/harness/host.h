// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A real libobs host for tests: headless OpenGL through EGL on X11, the
// freshly built module loaded from the build tree, log lines captured.

#include <obs.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct BlurBoard;

namespace harness {

struct HostOptions {
	uint32_t width = 640;
	uint32_t height = 360;
	uint32_t fps = 30;
	video_format format = VIDEO_FORMAT_RGBA;
	video_colorspace colorspace = VIDEO_CS_SRGB;
	bool load_module = true;
	// The module's data folder (locale, manifest); the build's copy of data/
	// by default.
	std::string data_path;
	// Where modules keep their config (obs_module_config_path); none by
	// default.
	std::string module_config_path;
	// Runs right before the module is loaded (log marks, interposers).
	std::function<void()> before_module_load;
};

struct LogLine {
	int level;
	std::string text;
};

// RGBA8 pixels, rows top to bottom.
struct Image {
	uint32_t width = 0;
	uint32_t height = 0;
	std::vector<uint8_t> rgba;

	const uint8_t *at(uint32_t x, uint32_t y) const { return &rgba[(size_t(y) * width + x) * 4]; }
	bool empty() const { return rgba.empty(); }
};

// Starts libobs, resets video, registers the test pattern source and loads
// the module. False (with a message on stderr) when any step fails.
bool start(const HostOptions &options = {});
// Releases what the harness holds and shuts libobs down. Returns the
// number of allocations libobs still counts (memory leaks).
long stop();

obs_module_t *module();
const HostOptions &options();

// Loads one of the host's stock plug-ins (such as "obs-transitions").
bool load_stock_module(const char *name);

// Log lines seen since start (or the last clear_log), in order.
std::vector<LogLine> log_lines();
void clear_log();
// Lines whose text contains the fragment.
std::vector<LogLine> log_matching(const std::string &fragment);

// Waits until n further frames have been rendered by the host and returns
// the last one of the main output, as RGBA.
Image next_frames(int n = 1);

// Off: frames are only counted, not converted (keeps the CPU free while a
// benchmark times the host); next_frames then returns the last kept one.
void keep_output_frames(bool keep);

// The first main-output frame whose video time lies at least `ticks`
// frame intervals after now: every change made before the call (item
// transforms at once, source updates at the next tick) is in it, however
// far the delivery of frames lags behind their rendering.
Image settled_frame(int ticks = 2);

// Runs draw inside a cleared RGBA texture render of that size (projection
// over it, sRGB), in the graphics context, and reads it back.
Image render_image(uint32_t width, uint32_t height, const std::function<void()> &draw);

// Renders a source into a texture of its own in the graphics context, with
// an extra transform before it, and reads it back; the host's own view
// matrices are not used (a "projector" drawing the scene scaled or moved).
Image render_view(obs_source_t *source, uint32_t width, uint32_t height, float scale = 1.0f, float offset_x = 0.0f,
		  float offset_y = 0.0f);

// Linear RGBA floats, rows top to bottom.
struct FloatImage {
	uint32_t width = 0;
	uint32_t height = 0;
	std::vector<float> rgba;

	const float *at(uint32_t x, uint32_t y) const { return &rgba[(size_t(y) * width + x) * 4]; }
	bool empty() const { return rgba.empty(); }
};

// As render_view, into a 16-bit float target of the given colour space
// (GS_CS_SRGB_16F, GS_CS_709_EXTENDED, GS_CS_709_SCRGB).
FloatImage render_view_float(obs_source_t *source, uint32_t width, uint32_t height, gs_color_space space,
			     float scale = 1.0f, float offset_x = 0.0f, float offset_y = 0.0f);

// The host's canvas texture of the last frame (obs_get_main_texture), for
// canvases of 16-bit float; empty when it is not GS_RGBA16F.
FloatImage main_texture_float();

// The board record behind a board source (the host's private data).
BlurBoard *board_of(obs_source_t *source);

// Settings from a JSON text; released by the caller.
obs_data_t *json(const char *text);

// The test pattern source ("mistpane_test_pattern"): kinds "checker" (cell
// in pixels), "gradient", "solid" (color 0xAABBGGRR), "detail" (text,
// edges and a face-like shape) and "text" (11-pixel capitals, light on
// dark); kind "labels" draws its "labels" setting (harness/pattern.h).
obs_source_t *make_pattern(const char *name, uint32_t width, uint32_t height, const char *kind = "checker",
			   int cell = 8, uint32_t color = 0xff00ff00);
// hotkeys_json: bindings as a scene collection saves them.
obs_source_t *make_board(const char *name, const char *settings_json = "{}", const char *hotkeys_json = nullptr);
obs_scene_t *make_scene(const char *name);
// The id of the hotkey registered under name, or OBS_INVALID_HOTKEY_ID.
obs_hotkey_id hotkey_named(const char *name);
// Removes a scene from its canvas and drops the reference. A public scene
// that is only released, as the frontend never does, leaks the canvas's
// record of it at shutdown.
void release_scene(obs_scene_t *scene);

// The module's own count of host references it holds (test builds count
// them), and how many boards are alive; -1 when the module does not count.
struct ReferenceBalance {
	long outstanding = -1;
	long boards = 0;
	std::string report;
};
// Waits for the host's destroy queue first, so boards released are gone.
ReferenceBalance reference_balance();

// Runs gtest inside a started host; returns the process exit code. A
// non-zero leak count fails the run, and so does any host reference the
// module still holds once every board is gone.
int run_tests(int argc, char **argv, const HostOptions &options = {});

} // namespace harness
