// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

// How the last capture was made.
enum class CaptureMethod : uint32_t {
	None = 0,
	Copy = 1,
	Redraw = 2,
};

// The word for a method in the profiling report and the tools' tables.
inline const char *capture_method_name(CaptureMethod method)
{
	switch (method) {
	case CaptureMethod::Copy:
		return "copy";
	case CaptureMethod::Redraw:
		return "redraw";
	default:
		return "-";
	}
}
