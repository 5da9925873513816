// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

// The filter's property list; data may be null (the type as such).
obs_properties_t *hide_filter_properties(void *data);
