// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The parts of mistpane-host-check: its report, the rendered cases and the
// comparison of two platforms' pictures.

#include <string>
#include <vector>

namespace check {

inline constexpr const char *kBoardId = "korvanta_blur_board";

extern int failures;

struct LogLine {
	int level;
	std::string text;
};
// The host's log lines so far (from every thread, hence a copy).
std::vector<LogLine> log_lines();

// Prints "ok NAME" or "FAIL NAME: why" and counts the failures.
void report(bool ok, const std::string &name, const std::string &why);
bool logged(const char *fragment);

// Resets video with the platform's graphics module (Direct3D 11 on
// Windows, OpenGL on X11), an RGBA output or a P010 one of BT.2100 PQ
// (a canvas of 16-bit floats), and registers the test pattern.
bool start_video(bool hdr);
// Renders the cases on the program output, checks that each hides, writes
// each picture to out (when given) as NAME.ppm, and drops its callbacks.
void render_cases(const std::string &out);
// The pictures render_cases writes (without ".ppm"), the bare one first.
std::vector<std::string> case_names();

// RGB8 pictures, rows top to bottom.
struct Picture {
	unsigned width = 0, height = 0;
	std::vector<unsigned char> rgb;
};
bool write_ppm(const std::string &path, const Picture &picture);
bool read_ppm(const std::string &path, Picture &picture);

// Prints per case the largest and mean level difference between the two
// folders' pictures; the return value counts the cases beyond tolerance.
int compare(const std::string &windows_dir, const std::string &linux_dir);

// Under Wine: every shader text that Direct3D 11 fails to compile is
// written to dir as HASH.TARGET.hlsl (see shader_capture.cpp).
bool capture_shaders(const std::string &dir);
// libobs-d3d11's shader cache file for a compiled shader.
bool write_cache_entry(const std::string &compiled, const std::string &out);

} // namespace check
