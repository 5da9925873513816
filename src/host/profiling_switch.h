// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The module's one process-wide switch, set once at load from
// "MISTPANE_PROFILE" and never switched off.
bool profiling_is_enabled();
// Sets the switch and turns the host's source profiler on for CPU and GPU.
void profiling_switch_on();
