// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/failure_cover.h"

#include <obs.h>

#include "board/blur_board.h"
#include "render/board_render.h"
#include "host/log.h"
#include "render/final_pass.h"
#include "render/hatch.h"

const char *failure_cause_text(FailureCause cause)
{
	switch (cause) {
	case FailureCause::NoEffect:
		return "its effect is not loaded";
	case FailureCause::SceneGone:
		return "the scene that holds it is gone";
	case FailureCause::ItemNotFound:
		return "its scene item was not found";
	case FailureCause::BadPosition:
		return "its position on the canvas is not a number";
	case FailureCause::CaptureTexture:
		return "the texture for the region beneath could not be made";
	case FailureCause::Passes:
		return "a blur or mosaic pass could not run";
	case FailureCause::SourceSize:
		return "its source's size is not known";
	}
	return "unknown";
}

namespace {

void log_cause_once(BlurBoard *board, FailureCause cause)
{
	const uint32_t bit = (uint32_t)cause;
	if (board->render->failure_logged & bit)
		return;
	board->render->failure_logged |= bit;
	const char *name = obs_source_get_name(board->source);
	log_message(LOG_WARNING, "board '%s' cannot show its effect (%s); it covers its area instead", name ? name : "",
		    failure_cause_text(cause));
}

} // namespace

void draw_failure_cover(BlurBoard *board, FailureCause cause, const FinalPassParams &params)
{
	log_cause_once(board, cause);
	if (!push_canvas_transform(params)) {
		if (params.fails_over_target)
			draw_hatch_target();
		else
			draw_hatch(board);
		return;
	}
	draw_hatch_quad(params.quad_width, params.quad_height);
	gs_matrix_pop();
}
