// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/hiding_warnings.h"

#include <cmath>
#include <cstdio>

#include "board/strength.h"

namespace {

// The strength as a fraction, 0 to 1.
float strength_fraction(float strength_percent)
{
	const float s = strength_percent / 100.0f;
	if (!(s > 0.0f))
		return 0.0f;
	return s > 1.0f ? 1.0f : s;
}

// A figure as the warnings show it: one decimal, none when whole.
std::string figure_text(float value)
{
	if (!std::isfinite(value) || value > 9999.0f)
		return "9999+";
	char text[32];
	std::snprintf(text, sizeof(text), "%.1f", (double)value);
	std::string out = text;
	if (out.size() > 2 && out.compare(out.size() - 2, 2, ".0") == 0)
		out.resize(out.size() - 2);
	return out;
}

void replace(std::string &text, const std::string &what, const std::string &with)
{
	for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
		text.replace(at, what.size(), with);
}

} // namespace

float effective_blur_radius(float blur_radius, float strength_percent)
{
	return blur_radius_at(blur_radius, strength_fraction(strength_percent));
}

float effective_mosaic_cell(float mosaic_size, float strength_percent)
{
	return mosaic_cell_at(mosaic_size, strength_fraction(strength_percent));
}

float blur_radius_needed(float strength_percent)
{
	const float s = strength_fraction(strength_percent);
	return kSafeBlurRadius / (s * s);
}

float mosaic_size_needed(float strength_percent)
{
	const float s = strength_fraction(strength_percent);
	return (kSafeMosaicCell - 1.0f) / (s * s) + 1.0f;
}

std::string fill_warning(const char *text, float used, float needed)
{
	std::string out = text ? text : "";
	replace(out, "{used}", figure_text(used));
	replace(out, "{needed}", figure_text(std::ceil(needed)));
	return out;
}
