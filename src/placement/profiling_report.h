// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

struct BlurBoard;

// Called by the tick: one line per board every 5 seconds of ticks.
void profiling_report_step(BlurBoard *board, float seconds);
