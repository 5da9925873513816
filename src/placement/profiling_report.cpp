#include "placement/profiling_report.h"

#include "board/blur_board.h"
#include "placement/source_profiler.h"

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

void profiling_report_step(BlurBoard *, float)
{
}
