// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

// The board's property list; data may be null (the type as such).
obs_properties_t *board_get_properties(void *data);

// What a board and a filter share: the mode with its guidance and cover,
// blur radius and mosaic size with their warnings, shape, feather,
// strength, on/off and fade, in that order.
void add_hiding_properties(obs_properties_t *props);
