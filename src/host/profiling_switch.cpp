// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/profiling_switch.h"

#include "host/source_profiler.h"

namespace {
bool profiling_enabled = false;
}

bool profiling_is_enabled()
{
	return profiling_enabled;
}

void profiling_switch_on()
{
	profiling_enabled = true;
	source_profiler_enable(true);
	source_profiler_gpu_enable(true);
}
