// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/board_render.h"

#include <obs.h>

#include <new>

BoardRender *board_render_create()
{
	return new (std::nothrow) BoardRender();
}

void board_render_destroy(BoardRender *render)
{
	if (!render)
		return;
	obs_enter_graphics();
	destroy_slots(render->pool, 0, kPoolSlots - 1);
	obs_leave_graphics();
	delete render;
}
