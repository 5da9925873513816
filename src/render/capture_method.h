// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

// How the last capture was made.
enum class CaptureMethod : uint32_t {
	None = 0,
	Copy = 1,
	Redraw = 2,
};
