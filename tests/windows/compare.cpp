// SPDX-License-Identifier: GPL-2.0-or-later
// Pictures of mistpane-host-check: written and read as binary PPM, and two
// platforms' renders of the same cases set side by side.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "windows/checks.h"

namespace check {

bool write_ppm(const std::string &path, const Picture &picture)
{
	std::ofstream file(path, std::ios::binary);
	file << "P6\n" << picture.width << " " << picture.height << "\n255\n";
	file.write(reinterpret_cast<const char *>(picture.rgb.data()), std::streamsize(picture.rgb.size()));
	return bool(file);
}

bool read_ppm(const std::string &path, Picture &picture)
{
	std::ifstream file(path, std::ios::binary);
	std::string magic;
	unsigned maxval = 0;
	file >> magic >> picture.width >> picture.height >> maxval;
	file.get();
	if (!file || magic != "P6" || maxval != 255)
		return false;
	picture.rgb.resize(size_t(picture.width) * picture.height * 3);
	file.read(reinterpret_cast<char *>(picture.rgb.data()), std::streamsize(picture.rgb.size()));
	return bool(file);
}

namespace {

// Same drivers beneath (Mesa's llvmpipe), other shader translations: a
// level of rounding here and there, a few at the edges of shapes, where
// coverage is sampled a little differently.
constexpr double kMeanTolerance = 1.0;
constexpr int kMaxTolerance = 32;

struct Difference {
	int max = 0;
	unsigned max_x = 0, max_y = 0;
	double mean = 0.0;
	size_t over_two = 0; // pixels off by more than 2 levels
};

Difference difference(const Picture &a, const Picture &b)
{
	Difference d;
	double sum = 0.0;
	for (unsigned y = 0; y < a.height; ++y) {
		for (unsigned x = 0; x < a.width; ++x) {
			int worst = 0;
			for (int c = 0; c < 3; ++c) {
				const size_t i = (size_t(y) * a.width + x) * 3 + c;
				const int level = std::abs(int(a.rgb[i]) - int(b.rgb[i]));
				sum += level;
				worst = std::max(worst, level);
			}
			d.over_two += worst > 2;
			if (worst > d.max) {
				d.max = worst;
				d.max_x = x;
				d.max_y = y;
			}
		}
	}
	d.mean = sum / (3.0 * double(a.width) * double(a.height));
	return d;
}

} // namespace

// The module's log lines of both runs, in order.
bool same_module_log(const std::string &windows_dir, const std::string &linux_dir)
{
	std::ifstream a(windows_dir + "/module-log.txt"), b(linux_dir + "/module-log.txt");
	std::string line_a, line_b;
	for (int n = 1;; ++n) {
		const bool more_a = bool(std::getline(a, line_a)), more_b = bool(std::getline(b, line_b));
		if (!more_a && !more_b)
			return report(true, "the module logs the same on both (" + windows_dir + ")", ""), true;
		if (!more_a || !more_b || line_a != line_b) {
			report(false, "the module logs the same on both (" + windows_dir + ")",
			       "line " + std::to_string(n) + ": Windows \"" + (more_a ? line_a : "") + "\", Linux \"" +
				   (more_b ? line_b : "") + "\"");
			return false;
		}
	}
}

int compare(const std::string &windows_dir, const std::string &linux_dir)
{
	const std::string folder = std::filesystem::path(windows_dir).filename().string();
	int beyond = 0;
	for (const std::string &name : case_names()) {
		Picture a, b;
		if (!read_ppm(windows_dir + "/" + name + ".ppm", a) || !read_ppm(linux_dir + "/" + name + ".ppm", b) ||
		    a.width != b.width || a.height != b.height) {
			report(false, std::string("compare ") + name, "picture missing or of another size");
			++beyond;
			continue;
		}
		const Difference d = difference(a, b);
		char why[200];
		std::snprintf(why, sizeof(why), "max %d at (%u, %u), mean %.3f, %zu pixels off by more than 2", d.max,
			      d.max_x, d.max_y, d.mean, d.over_two);
		const bool ok = d.mean <= kMeanTolerance && d.max <= kMaxTolerance;
		report(ok, "Direct3D 11 matches OpenGL in " + folder + ": " + name + " (" + why + ")", why);
		beyond += !ok;
	}
	return beyond + !same_module_log(windows_dir, linux_dir);
}

} // namespace check
