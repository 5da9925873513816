// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

struct HideFilter;

// "Hide on/off" lives on the source the filter is added to, so that it is
// listed under that source in the host's hotkey settings and saved with it.
void register_filter_hotkey(HideFilter *filter, obs_source_t *parent);
void unregister_filter_hotkey(HideFilter *filter);
