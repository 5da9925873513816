#pragma once

#include <cstdint>

// Clamps applied when update reads the settings. Wider than the sliders:
// values from saved settings or other programs inside them are kept.
// NaN (possible from a program writing the settings) takes the low bound,
// so nothing downstream turns it into an integer.
inline float clamp_float(float value, float low, float high)
{
	if (value != value)
		return low;
	if (value > high)
		return high;
	if (value < low)
		return low;
	return value;
}

// Compared as 64-bit before narrowing, so 2^32 + 640 is not 640.
inline uint32_t clamp_size(int64_t value)
{
	if (value > 16384)
		return 16384;
	if (value < 1)
		return 1;
	return static_cast<uint32_t>(value);
}
