// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

// The board's property list; data may be null (the type as such).
obs_properties_t *board_get_properties(void *data);
