// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <vector>

#include "host/host_refs.h"

// A strong reference to every canvas the host lists, the main canvas
// first. The host lists the main canvas too, so it may appear twice.
std::vector<CanvasRef> all_canvases();
