// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

struct BlurBoard;

// Set once at load from "MISTPANE_PROFILE"; never switched off.
bool profiling_is_enabled();
// Sets the flag and turns the host's source profiler on for CPU and GPU.
void profiling_switch_on();
// Called by the tick: one line per board every 5 seconds of ticks.
void profiling_report_step(BlurBoard *board, float seconds);
