// SPDX-License-Identifier: GPL-2.0-or-later
// The redraw of one item beneath a board: its filter and blend choices as
// plain rules.
#include <obs.h>

#include <gtest/gtest.h>

#include "render/draw_item.h"

namespace {

TEST(ItemFilter, ChoosesTheHostsEffectByFilterAndSignedScale)
{
	struct Case {
		obs_scale_type filter;
		float sx, sy;
		obs_base_effect effect;
		bool point_sampler, base_dimensions, upscale;
	};
	const Case cases[] = {
	    {OBS_SCALE_DISABLE, 0.1f, 7.0f, OBS_EFFECT_DEFAULT, false, false, false},
	    {OBS_SCALE_POINT, 0.1f, 3.0f, OBS_EFFECT_DEFAULT, true, false, false},
	    // Unscaled within 0.0001: the plain draw.
	    {OBS_SCALE_BICUBIC, 1.00005f, 1.0f, OBS_EFFECT_DEFAULT, false, false, false},
	    {OBS_SCALE_BICUBIC, 1.0f, 0.9998f, OBS_EFFECT_BICUBIC, false, true, false},
	    // Under half size, or flipped: low-res.
	    {OBS_SCALE_BICUBIC, 0.4f, 2.0f, OBS_EFFECT_BILINEAR_LOWRES, false, true, false},
	    {OBS_SCALE_BICUBIC, -1.0f, 1.0f, OBS_EFFECT_BILINEAR_LOWRES, false, true, false},
	    {OBS_SCALE_LANCZOS, 1.5f, 0.5f, OBS_EFFECT_LANCZOS, false, true, false},
	    {OBS_SCALE_AREA, 2.0f, 1.0f, OBS_EFFECT_AREA, false, true, true},
	    {OBS_SCALE_AREA, 0.75f, 1.0f, OBS_EFFECT_AREA, false, true, false},
	    {OBS_SCALE_BILINEAR, 1.5f, 1.5f, OBS_EFFECT_DEFAULT, false, true, false},
	    {(obs_scale_type)7, 1.5f, 1.5f, OBS_EFFECT_DEFAULT, false, true, false},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(testing::Message() << "filter " << c.filter << " scale " << c.sx << " x " << c.sy);
		const ItemFilter f = select_item_filter(c.filter, c.sx, c.sy);
		EXPECT_EQ(f.effect, c.effect);
		EXPECT_EQ(f.point_sampler, c.point_sampler);
		EXPECT_EQ(f.base_dimensions, c.base_dimensions);
		EXPECT_EQ(f.upscale, c.upscale);
	}
}

TEST(BlendRows, MatchTheHostsModesAndClampOutsideThem)
{
	const BlendRow &normal = blend_row(OBS_BLEND_NORMAL);
	EXPECT_EQ(normal.src_color, (uint32_t)GS_BLEND_ONE);
	EXPECT_EQ(normal.dst_color, (uint32_t)GS_BLEND_INVSRCALPHA);
	EXPECT_EQ(normal.op, (uint32_t)GS_BLEND_OP_ADD);
	const BlendRow &screen = blend_row(OBS_BLEND_SCREEN);
	EXPECT_EQ(screen.dst_color, (uint32_t)GS_BLEND_INVSRCCOLOR);
	EXPECT_EQ(screen.dst_alpha, (uint32_t)GS_BLEND_INVSRCALPHA);
	const BlendRow &multiply = blend_row(OBS_BLEND_MULTIPLY);
	EXPECT_EQ(multiply.src_color, (uint32_t)GS_BLEND_DSTCOLOR);
	EXPECT_EQ(multiply.src_alpha, (uint32_t)GS_BLEND_DSTALPHA);
	EXPECT_EQ(blend_row(OBS_BLEND_SUBTRACT).op, (uint32_t)GS_BLEND_OP_REVERSE_SUBTRACT);
	EXPECT_EQ(blend_row(OBS_BLEND_LIGHTEN).op, (uint32_t)GS_BLEND_OP_MAX);
	EXPECT_EQ(blend_row(OBS_BLEND_DARKEN).op, (uint32_t)GS_BLEND_OP_MIN);
	EXPECT_EQ(&blend_row(9), &blend_row(OBS_BLEND_DARKEN));
	EXPECT_EQ(&blend_row(-1), &blend_row(OBS_BLEND_NORMAL));
	EXPECT_EQ(&blend_row(-2147483647 - 1), &blend_row(OBS_BLEND_NORMAL));
}

} // namespace
