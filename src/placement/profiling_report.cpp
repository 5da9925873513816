// SPDX-License-Identifier: GPL-2.0-or-later
#include "placement/profiling_report.h"

#include "board/blur_board.h"
#include "host/log.h"
#include "host/source_profiler.h"

namespace {

constexpr float kReportSeconds = 5.0f;

double to_ms(uint64_t ns)
{
	return (double)ns / 1000000.0;
}

} // namespace

void profiling_report_step(BlurBoard *board, float seconds)
{
	board->profile_elapsed += seconds;
	if (board->profile_elapsed < kReportSeconds)
		return;
	// Each window starts afresh; the overshoot is not carried over.
	board->profile_elapsed = 0.0f;

	profiler_result_t result = {};
	if (!source_profiler_fill_result(board->source, &result))
		return;
	log_message(LOG_INFO,
		    "profile '%s': per frame cpu %.3f ms gpu %.3f ms; per draw cpu %.3f (max %.3f) gpu %.3f (max "
		    "%.3f); %s tick %.3f ms (max %.3f)",
		    obs_source_get_name(board->source), to_ms(result.render_sum), to_ms(result.render_gpu_sum),
		    to_ms(result.render_avg), to_ms(result.render_max), to_ms(result.render_gpu_avg),
		    to_ms(result.render_gpu_max), capture_method_name(board->capture_method.load()),
		    to_ms(result.tick_avg), to_ms(result.tick_max));
}
