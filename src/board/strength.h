// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// What a fading board uses at a level (0 to 1): the blur radius and the
// mosaic cell grow with its square, so a fade starts from the untouched
// picture. The capture and the properties' warnings judge the same figures.
float blur_radius_at(float blur_radius, float level);
float mosaic_cell_at(float mosaic_size, float level);
