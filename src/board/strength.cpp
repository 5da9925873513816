// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/strength.h"

float blur_radius_at(float blur_radius, float level)
{
	return blur_radius * level * level;
}

float mosaic_cell_at(float mosaic_size, float level)
{
	return (mosaic_size - 1.0f) * level * level + 1.0f;
}
