// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The host exports its source profiler but Debian ships no header for it;
// the layout follows libobs's util/source-profiler.h.
#include <obs.h>

#include <cstdint>

extern "C" {

struct profiler_result_t {
	uint64_t tick_avg;
	uint64_t tick_max;
	uint64_t render_avg;
	uint64_t render_max;
	uint64_t render_gpu_avg;
	uint64_t render_gpu_max;
	uint64_t render_sum;
	uint64_t render_gpu_sum;
	double async_input;
	double async_rendered;
	uint64_t async_input_best;
	uint64_t async_input_worst;
	uint64_t async_rendered_best;
	uint64_t async_rendered_worst;
};

void source_profiler_enable(bool enable);
void source_profiler_gpu_enable(bool enable);
bool source_profiler_fill_result(obs_source_t *source, profiler_result_t *result);
}
