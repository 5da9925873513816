// SPDX-License-Identifier: GPL-2.0-or-later
#include "placement/profiling_report.h"

#include "board/blur_board.h"
#include "module/log.h"
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

namespace {

constexpr float kReportSeconds = 5.0f;

double to_ms(uint64_t ns)
{
	return (double)ns / 1000000.0;
}

const char *capture_word(CaptureMethod method)
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
		    to_ms(result.render_gpu_max), capture_word(board->capture_method.load()), to_ms(result.tick_avg),
		    to_ms(result.tick_max));
}
