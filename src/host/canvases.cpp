// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/canvases.h"

namespace {

bool collect_canvas(void *param, obs_canvas_t *canvas)
{
	if (obs_canvas_t *ref = refs::canvas_get_ref(canvas))
		static_cast<std::vector<CanvasRef> *>(param)->emplace_back(ref);
	return true;
}

} // namespace

std::vector<CanvasRef> all_canvases()
{
	std::vector<CanvasRef> canvases;
	if (obs_canvas_t *main_canvas = refs::main_canvas())
		canvases.emplace_back(main_canvas);
	obs_enum_canvases(collect_canvas, &canvases);
	return canvases;
}
