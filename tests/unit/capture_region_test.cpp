// SPDX-License-Identifier: GPL-2.0-or-later
// The arithmetic of the capture and the chain: reach, region, levels,
// sigma, grid, clamp boxes and the composite's placement.
#include <obs.h>
#include <graphics/matrix4.h>
#include <graphics/vec3.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "render/capture.h"
#include "render/capture_region.h"
#include "render/chain.h"
#include "render/draw.h"
#include "render/final_pass.h"

namespace {

matrix4 translation(float x, float y)
{
	matrix4 m;
	matrix4_identity(&m);
	m.t.x = x;
	m.t.y = y;
	return m;
}

// Rotation about the origin, then a move: what the host builds for an item
// at (x, y) with its top-left alignment.
matrix4 rotated(float degrees, float scale, float x, float y)
{
	const float a = degrees * float(M_PI) / 180.0f;
	matrix4 m;
	matrix4_identity(&m);
	m.x.x = scale * cosf(a);
	m.x.y = scale * sinf(a);
	m.y.x = -scale * sinf(a);
	m.y.y = scale * cosf(a);
	m.t.x = x;
	m.t.y = y;
	return m;
}

void expect_region(const CaptureRegion &region, int x0, int y0, int width, int height)
{
	EXPECT_EQ(region.x0, x0);
	EXPECT_EQ(region.y0, y0);
	EXPECT_EQ(region.width, width);
	EXPECT_EQ(region.height, height);
}

TEST(Reach, BlurRadius20AtFullLevelCapturesTheAlignedRegion)
{
	const Reach reach = blur_reach(100, 100, 740, 460, 20.0f, 1.0f);
	ASSERT_TRUE(reach.ok);
	EXPECT_FLOAT_EQ(reach.sigma, 10.0f);
	EXPECT_EQ(reach.levels, 2);
	// margin 34 = ceil(3 sigma) + 2^L
	EXPECT_FLOAT_EQ(reach.rx0, 66.0f);
	EXPECT_FLOAT_EQ(reach.ry0, 66.0f);
	EXPECT_FLOAT_EQ(reach.rx1, 774.0f);
	EXPECT_FLOAT_EQ(reach.ry1, 494.0f);

	CaptureRegion region;
	ASSERT_TRUE(snap_capture_region(reach, 100, 100, 740, 460, 1920, 1080, region));
	expect_region(region, 64, 64, 768, 448);
	EXPECT_FLOAT_EQ(region.valid_x0, 64.0f);
	EXPECT_FLOAT_EQ(region.valid_y0, 64.0f);
	EXPECT_FLOAT_EQ(region.valid_x1, 832.0f);
	EXPECT_FLOAT_EQ(region.valid_y1, 512.0f);
}

TEST(Reach, BlurTooWeakToShowDrawsNothing)
{
	// 20 * 0.07^2 * 0.5 = 0.049
	const Reach weak = blur_reach(100, 100, 740, 460, 20.0f, 0.07f);
	EXPECT_FALSE(weak.ok);
	CaptureRegion region;
	EXPECT_FALSE(snap_capture_region(weak, 100, 100, 740, 460, 1920, 1080, region));
	EXPECT_FALSE(blur_reach(0, 0, 10, 10, 0.0f, 1.0f).ok);
	EXPECT_TRUE(blur_reach(0, 0, 10, 10, 0.1f, 1.0f).ok); // sigma exactly 0.05
}

TEST(Reach, BlurLevelsFollowSigma)
{
	// radius, level: the levels down (sigma 1, 4, 250, 62.5).
	struct Levels {
		float radius, level;
		int levels;
	};
	for (const Levels c : {Levels{2, 1, 0}, Levels{8, 1, 1}, Levels{500, 1, 6}, Levels{500, 0.5f, 4}})
		EXPECT_EQ(blur_reach(0, 0, 1, 1, c.radius, c.level).levels, c.levels) << c.radius << " at " << c.level;
	// sigma, levels: the sigma left at the last level.
	struct Left {
		float sigma;
		int levels;
		float left;
	};
	for (const Left c : {Left{250, 6, 3.90625f}, Left{10, 2, 2.5f}, Left{1, 0, 1}, Left{0.01f, 0, 0.05f}})
		EXPECT_FLOAT_EQ(level_sigma(c.sigma, c.levels), c.left) << c.sigma << " " << c.levels;
	// From sigma 4 on, the smallest level's sigma stays within 2..4 texels
	// (the 25 taps of the Blur pass cover three sigmas).
	for (float sigma = 4.0f; sigma <= 256.0f; sigma *= 1.07f) {
		const Reach r = blur_reach(0, 0, 1, 1, sigma * 2.0f, 1.0f);
		const float s = level_sigma(r.sigma, r.levels);
		EXPECT_GE(s, 2.0f) << sigma;
		EXPECT_LE(s, 4.0f) << sigma;
	}
}

// The blur's reads as the CPU hands them to the shader: they must sum to
// one (else the picture brightens or darkens) and keep the Gaussian's sigma,
// also when the blur runs one level down behind a filtered halving.
TEST(Reach, BlurTapsSumToOneAndKeepSigma)
{
	auto spread = [](const BlurTaps &taps, double &sum) {
		double variance = 0.0;
		sum = taps.center;
		for (int i = 0; i < taps.count; ++i) {
			sum += 2.0 * taps.weight[i];
			variance += 2.0 * taps.weight[i] * (i + 1.0) * (i + 1.0);
		}
		return variance;
	};
	for (float sigma : {0.05f, 1.0f, 2.5f, 4.0f}) {
		const BlurTaps taps = blur_taps(sigma);
		double sum = 0.0;
		const double variance = spread(taps, sum);
		EXPECT_NEAR(sum, 1.0, 1e-5) << sigma;
		if (sigma >= 1.0f)
			EXPECT_NEAR(std::sqrt(variance), sigma, 0.02 * sigma) << sigma;
	}
	// sigma of the level, levels: where the Gaussian runs.
	struct Row {
		float sigma;
		int levels;
		bool halve;
	} rows[] = {{1.0f, 0, false}, {2.4f, 0, false}, {2.5f, 0, true}, {3.9f, 2, true}, {3.9f, 6, false}};
	for (const Row &r : rows) {
		const BlurPlan plan = plan_blur(r.sigma, r.levels);
		EXPECT_EQ(plan.halve, r.halve) << r.sigma << " " << r.levels;
		EXPECT_EQ(plan.level, r.levels + (r.halve ? 1 : 0));
		if (!plan.halve)
			continue;
		// Two taps per side at 0.5 and 1.5 texels read as one: a weight w
		// at 1.5 puts the read at 0.5 + 2w.
		const double far = (plan.halve_offset - 0.5) / 2.0, halve = 2.0 * ((0.5 - far) * 0.25 + far * 2.25);
		double sum = 0.0;
		const double down = 4.0 * spread(blur_taps(plan.sigma), sum);
		EXPECT_NEAR(std::sqrt(halve + down + 0.75), r.sigma, 0.03 * r.sigma) << r.sigma;
	}
}

TEST(Reach, MosaicCellsGrowWithTheSquareOfTheLevelAndAreLowPassedFirst)
{
	// size, level: cell, the low-pass sigma (half the cell, at least 6,
	// never more than the cell less one pixel), levels (the deeper of where
	// the cells span 4 to 8 texels and where the low-pass is 2 to 4).
	struct Case {
		float size, level, cell, sigma;
		int levels;
	};
	for (const Case c :
	     {Case{24, 1, 24, 11.5f, 2}, Case{24, 0.5f, 6.75f, 5.75f, 1}, Case{8, 1, 8, 6, 1}, Case{13, 1, 13, 6, 1},
	      Case{64, 1, 64, 31.5f, 4}, Case{3, 1, 3, 2, 0}, Case{24, 0.001f, 1.000023f, 0.000023f, 0}}) {
		SCOPED_TRACE(testing::Message() << "size " << c.size << " level " << c.level);
		const Reach r = mosaic_reach(0, 0, 100, 100, false, c.size, 6.0f, c.level, 1920, 1080);
		EXPECT_TRUE(r.ok);
		EXPECT_NEAR(r.cell, c.cell, 1e-4f);
		EXPECT_NEAR(r.sigma, c.sigma, 1e-4f);
		EXPECT_EQ(r.levels, c.levels);
	}
	// The region is the box widened to whole cells from the canvas origin,
	// then by what the low-pass reads: 3.5 sigma and eight texels of the
	// last level.
	Reach r = mosaic_reach(30, 50, 130, 70, false, 24.0f, 6.0f, 1.0f, 1920, 1080);
	const float margin = 41.0f + 32.0f;
	EXPECT_FLOAT_EQ(r.rx0, 24.0f - margin);
	EXPECT_FLOAT_EQ(r.ry0, 48.0f - margin);
	EXPECT_FLOAT_EQ(r.rx1, 144.0f + margin);
	EXPECT_FLOAT_EQ(r.ry1, 72.0f + margin);
}

TEST(Reach, EmergencyCellsFollowTheShorterCanvasSide)
{
	Reach r = mosaic_reach(0, 0, 1920, 1080, true, 24.0f, 6.0f, 0.0f, 1920, 1080);
	EXPECT_NEAR(r.cell, 64.8f, 1e-4f);
	EXPECT_EQ(r.levels, 4);
	CaptureRegion region;
	ASSERT_TRUE(snap_capture_region(r, 0, 0, 1920, 1080, 1920, 1080, region));
	expect_region(region, 0, 0, 1920, 1088);
	EXPECT_FLOAT_EQ(region.valid_x1, 1920.0f);
	EXPECT_FLOAT_EQ(region.valid_y1, 1080.0f);

	// Never under 2 pixels, however small the canvas.
	EXPECT_FLOAT_EQ(mosaic_reach(0, 0, 8, 8, true, 24.0f, 0.5f, 1.0f, 8, 8).cell, 2.0f);
}

TEST(Region, PartlyOffTheCanvasKeepsOnlyThePartInside)
{
	const Reach r = blur_reach(-300, -200, 100, 60, 10.0f, 1.0f); // margin 15 + 2
	CaptureRegion region;
	ASSERT_TRUE(snap_capture_region(r, -300, -200, 100, 60, 640, 360, region));
	expect_region(region, 0, 0, 128, 128);
	EXPECT_FLOAT_EQ(region.valid_x1, 128.0f);

	// Near the far corner the region runs past the canvas; valid does not.
	const Reach far = blur_reach(600, 330, 700, 400, 10.0f, 1.0f);
	ASSERT_TRUE(snap_capture_region(far, 600, 330, 700, 400, 640, 360, region));
	expect_region(region, 576, 256, 64, 128);
	EXPECT_FLOAT_EQ(region.valid_x1, 640.0f);
	EXPECT_FLOAT_EQ(region.valid_y1, 360.0f);
}

TEST(Region, WhollyOffTheCanvasCapturesNothing)
{
	CaptureRegion region;
	// The reach touches the canvas but the board does not.
	const Reach r = blur_reach(-50, 10, -1, 60, 40.0f, 1.0f);
	EXPECT_GT(r.rx1, 0.0f);
	EXPECT_FALSE(snap_capture_region(r, -50, 10, -1, 60, 640, 360, region));
	const Reach beyond = blur_reach(700, 10, 800, 60, 4.0f, 1.0f);
	EXPECT_FALSE(snap_capture_region(beyond, 700, 10, 800, 60, 640, 360, region));
	const Reach below = mosaic_reach(10, 400, 60, 500, false, 24.0f, 6.0f, 1.0f, 640, 360);
	EXPECT_FALSE(snap_capture_region(below, 10, 400, 60, 500, 640, 360, region));
	// A degenerate transform's infinities never make a region.
	const Reach inf = blur_reach(-INFINITY, 0, INFINITY, 10, 20.0f, 1.0f);
	EXPECT_FALSE(snap_capture_region(inf, -INFINITY, 0, INFINITY, 10, 640, 360, region));
}

TEST(Region, IsAlwaysAlignedToSixtyFourAndCoversTheClampedReach)
{
	std::mt19937 random(7);
	std::uniform_real_distribution<float> pos(-400.0f, 2200.0f), size(1.0f, 900.0f), radius(0.2f, 500.0f);
	int made = 0;
	for (int i = 0; i < 2000; ++i) {
		const float x0 = pos(random), y0 = pos(random) * 0.5f;
		const float x1 = x0 + size(random), y1 = y0 + size(random);
		const Reach r = (i & 1) ? blur_reach(x0, y0, x1, y1, radius(random), 1.0f)
					: mosaic_reach(x0, y0, x1, y1, false, radius(random), 6.0f, 1.0f, 1920, 1080);
		CaptureRegion c;
		if (!snap_capture_region(r, x0, y0, x1, y1, 1920, 1080, c))
			continue;
		++made;
		EXPECT_EQ(c.x0 % 64, 0);
		EXPECT_EQ(c.y0 % 64, 0);
		EXPECT_EQ(c.width % 64, 0);
		EXPECT_EQ(c.height % 64, 0);
		EXPECT_GE(c.x0, 0);
		EXPECT_GE(c.y0, 0);
		EXPECT_GE(c.width, 64);
		EXPECT_GE(c.height, 64);
		EXPECT_LE(c.valid_x0, std::max(0.0f, r.rx0));
		EXPECT_LE(c.valid_y0, std::max(0.0f, r.ry0));
		EXPECT_GE(c.valid_x1, std::min(1920.0f, r.rx1));
		EXPECT_GE(c.valid_y1, std::min(1080.0f, r.ry1));
		EXPECT_LE(c.valid_x1, 1920.0f);
		EXPECT_LE(c.valid_y1, 1080.0f);
		// Six halvings always leave whole texels.
		EXPECT_EQ((c.width >> 6) << 6, c.width);
	}
	EXPECT_GT(made, 500);
}

TEST(Chain, ClampBoxesOfTheExampleBoard)
{
	CaptureRegion region;
	region.x0 = 64;
	region.y0 = 64;
	region.width = 768;
	region.height = 448;
	region.valid_x0 = 64;
	region.valid_y0 = 64;
	region.valid_x1 = 832;
	region.valid_y1 = 512;
	const UvBox box = region_uv_clamp(region, 192, 112);
	EXPECT_FLOAT_EQ(box.min.x, 0.5f / 192.0f);
	EXPECT_FLOAT_EQ(box.min.y, 0.5f / 112.0f);
	EXPECT_FLOAT_EQ(box.max.x, 1.0f - 0.5f / 192.0f);
	EXPECT_FLOAT_EQ(box.max.y, 1.0f - 0.5f / 112.0f);

	// Only the part inside the canvas may be read.
	region.x0 = 0;
	region.y0 = 0;
	region.width = 1920;
	region.height = 1088;
	region.valid_x0 = region.valid_y0 = 0;
	region.valid_x1 = 1920;
	region.valid_y1 = 1080;
	const UvBox level4 = region_uv_clamp(region, 120, 68);
	EXPECT_FLOAT_EQ(level4.max.y, 1080.0f / 1088.0f - 0.5f / 68.0f);
}

TEST(Chain, MosaicGridAndReduceTechnique)
{
	// Emergency cover on 1920 x 1080 at 6 %: 30 x 17 cells from the origin.
	const MosaicGrid e = mosaic_grid(0, 0, 1920, 1080, 64.8f);
	EXPECT_EQ(e.gx, 0);
	EXPECT_EQ(e.gy, 0);
	EXPECT_EQ(e.nx, 30);
	EXPECT_EQ(e.ny, 17);
	EXPECT_FALSE(reduce_with_points(64.8f, 4)); // 4.05 texels a cell
	EXPECT_FALSE(reduce_with_points(24.0f, 2)); // 6 texels
	EXPECT_TRUE(reduce_with_points(16.0f, 2)); // exactly 4
	EXPECT_TRUE(reduce_with_points(1.01f, 0));

	const MosaicGrid g = mosaic_grid(30, 50, 130, 70, 24.0f);
	EXPECT_EQ(g.gx, 1);
	EXPECT_EQ(g.gy, 2);
	EXPECT_EQ(g.nx, 5);
	EXPECT_EQ(g.ny, 1);
	// A board narrower than one cell still gets one.
	const MosaicGrid thin = mosaic_grid(48, 48, 48, 48, 24.0f);
	EXPECT_EQ(thin.nx, 1);
	EXPECT_EQ(thin.ny, 1);
}

ChainInput input_for(const DrawSnapshot &snap, const matrix4 &m, uint32_t bw, uint32_t bh)
{
	ChainInput in;
	in.snapshot = &snap;
	in.canvas_width = 1920;
	in.canvas_height = 1080;
	in.board_width = bw;
	in.board_height = bh;
	in.board_to_canvas = m;
	in.emergency = snap.emergency;
	in.mosaic = snap.is_mosaic || snap.emergency;
	return in;
}

// The chain's plan for one board, worked out without a GPU: which level
// each pass draws, which of its texels and with which technique.
PlanInput plan_input(float sigma, float cell, bool mosaic, int levels, CaptureRegion region, float bx0, float by0,
		     float bx1, float by1)
{
	PlanInput in;
	in.region = region;
	in.levels = levels;
	in.sigma = sigma;
	in.cell = cell;
	in.mosaic = mosaic;
	in.bx0 = bx0;
	in.by0 = by0;
	in.bx1 = bx1;
	in.by1 = by1;
	return in;
}

bool inside(const TexelRect &r, const LevelGeometry &g)
{
	return !r.empty() && r.x0 >= 0 && r.y0 >= 0 && r.x1 <= (int32_t)g.width && r.y1 <= (int32_t)g.height;
}

// Each rect lies in its level, each halving reads what the next one draws,
// and the Gaussian's first pass covers what its second reads.
void expect_consistent(const ChainPlan &plan, const CaptureRegion &region)
{
	for (int i = 1; i <= plan.levels; ++i) {
		SCOPED_TRACE(i);
		const TexelRect &r = plan.halving[i], &up = plan.halving[i - 1];
		EXPECT_TRUE(inside(r, level_geometry(region, i)));
		EXPECT_LE(up.x0, 2 * r.x0);
		EXPECT_LE(up.y0, 2 * r.y0);
		EXPECT_GE(up.x1, std::min(2 * r.x1, (int32_t)level_geometry(region, i - 1).width));
		EXPECT_GE(up.y1, std::min(2 * r.y1, (int32_t)level_geometry(region, i - 1).height));
	}
	if (!plan.gauss.run)
		return;
	const LevelGeometry g = level_geometry(region, plan.gauss.blur.level);
	EXPECT_TRUE(inside(plan.gauss.down, g));
	EXPECT_TRUE(inside(plan.gauss.across, g));
	EXPECT_LE(plan.gauss.across.y0, plan.gauss.down.y0 - std::min(plan.gauss.taps.count, plan.gauss.down.y0));
	EXPECT_LE(plan.gauss.across.x0, plan.gauss.down.x0);
	EXPECT_GE(plan.gauss.across.x1, plan.gauss.down.x1);
}

TEST(Plan, EachConfigurationRunsItsPassesWhereItShould)
{
	CaptureRegion example{64, 64, 768, 448, 64, 64, 832, 512};
	CaptureRegion canvas{0, 0, 1920, 1088, 0, 0, 1920, 1080};
	struct Case {
		const char *what;
		PlanInput in;
		bool mosaic_halvings; // low-pass halvings rather than 2 x 2 means
		bool gauss;
		int gauss_level;
		bool halve;
		const char *halve_technique;
		bool back_up;
		int result_level;
		bool reduce_points;
		const char *technique; // of the Gaussian
	};
	const Case cases[] = {
	    // Blur radius 20: sigma 10, L 2, sigma_L 2.5, one level down and back up.
	    {"blur 20", plan_input(10, 0, false, 2, example, 100, 100, 740, 460), false, true, 3, true, "Halve", true,
	     2, false, "Blur4"},
	    // Blur radius 2: sigma 1 at full resolution, four taps a side.
	    {"blur 2", plan_input(1, 0, false, 0, example, 100, 100, 740, 460), false, true, 0, false, "Halve", false,
	     0, false, "Blur4"},
	    // Mosaic 24: low-pass 11.5 behind two binomial halvings, one more
	    // level down (2.79 texels), the cells read bilinearly from level 3.
	    {"mosaic 24", plan_input(11.5f, 24, true, 2, example, 100, 100, 740, 460), true, true, 3, true, "Halve8",
	     false, 3, false, "Blur5"},
	    // Mosaic 16: 1.74 texels of level 2 in place; 4 texels a cell, points.
	    {"mosaic 16", plan_input(7.5f, 16, true, 2, example, 100, 100, 740, 460), true, true, 2, false, "Halve",
	     false, 2, true, "Blur7"},
	    // A fade's first cells: no low-pass, the picture read by points.
	    {"mosaic 1", plan_input(0.0001f, 1.0002f, true, 0, example, 100, 100, 740, 460), false, false, 0, false,
	     "Halve", false, 0, true, ""},
	    // Emergency on 1920 x 1080 at 6 %: level 4, whose last row the canvas
	    // edge cuts (1080 / 16), so the taps are read bilinearly.
	    {"emergency", plan_input(31.9f, 64.8f, true, 4, canvas, 0, 0, 1920, 1080), true, true, 4, false, "Halve",
	     false, 4, false, "Blur"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		const ChainPlan plan = plan_chain(c.in);
		EXPECT_EQ(plan.levels, c.in.levels);
		EXPECT_EQ(plan.mosaic, c.in.mosaic);
		EXPECT_EQ(plan.low_pass_halvings, c.mosaic_halvings);
		EXPECT_EQ(plan.gauss.run, c.gauss);
		if (c.gauss) {
			EXPECT_EQ(plan.gauss.blur.level, c.gauss_level);
			EXPECT_EQ(plan.gauss.blur.halve, c.halve);
			if (c.halve)
				EXPECT_STREQ(plan.gauss.blur.halve_technique, c.halve_technique);
			EXPECT_STREQ(gaussian_technique(plan.gauss), c.technique);
		}
		EXPECT_EQ(plan.back_up, c.back_up);
		EXPECT_EQ(plan.result_level, c.result_level);
		if (c.in.mosaic)
			EXPECT_EQ(plan.reduce_points, c.reduce_points);
		EXPECT_FALSE(plan.keep_capture);
		expect_consistent(plan, c.in.region);
	}

	// A shaped board read from the target keeps the untouched picture.
	PlanInput shaped = cases[0].in;
	shaped.copy = shaped.shaped = true;
	const ChainPlan plan = plan_chain(shaped);
	EXPECT_TRUE(plan.keep_capture);
	EXPECT_TRUE(inside(plan.capture, level_geometry(example, 0)));
}

TEST(Composite, PlainBoardMapsItsQuadToTheCanvas)
{
	DrawSnapshot snap;
	FinalPassParams p;
	ASSERT_TRUE(place_composite(input_for(snap, translation(100, 100), 640, 360), p));
	EXPECT_FLOAT_EQ(p.pos_origin.x, 100.0f);
	EXPECT_FLOAT_EQ(p.pos_origin.y, 100.0f);
	EXPECT_FLOAT_EQ(p.pos_du.x, 640.0f);
	EXPECT_FLOAT_EQ(p.pos_du.y, 0.0f);
	EXPECT_FLOAT_EQ(p.pos_dv.x, 0.0f);
	EXPECT_FLOAT_EQ(p.pos_dv.y, 360.0f);
	EXPECT_FLOAT_EQ(p.quad_width, 640.0f);
	EXPECT_FLOAT_EQ(p.quad_height, 360.0f);
	EXPECT_FALSE(p.use_transform);
	EXPECT_FALSE(p.shaped); // rectangle, feather 0
}

TEST(Composite, EmergencyCoverUndoesTheBoardTransform)
{
	DrawSnapshot snap;
	snap.emergency = true;
	snap.shape.kind = ShapeKind::Ellipse; // never shaped
	snap.shape.invert = true; // the emergency cover wins
	const matrix4 m = rotated(45.0f, 0.3f, 900, 500);
	FinalPassParams p;
	ASSERT_TRUE(place_composite(input_for(snap, m, 100, 50), p));
	EXPECT_TRUE(p.use_transform);
	EXPECT_FALSE(p.shaped);
	EXPECT_FLOAT_EQ(p.quad_width, 1920.0f);
	EXPECT_FLOAT_EQ(p.quad_height, 1080.0f);
	EXPECT_FLOAT_EQ(p.pos_du.x, 1920.0f);
	EXPECT_FLOAT_EQ(p.pos_dv.y, 1080.0f);
	// Pushed in front of the item's transform the quad lands on the canvas.
	matrix4 product;
	matrix4_mul(&product, &p.transform, &m);
	const float corners[4][2] = {{0, 0}, {1920, 0}, {0, 1080}, {1920, 1080}};
	for (const auto &c : corners) {
		vec3 v, out;
		vec3_set(&v, c[0], c[1], 0.0f);
		vec3_transform(&out, &v, &product);
		EXPECT_NEAR(out.x, c[0], 0.05f);
		EXPECT_NEAR(out.y, c[1], 0.05f);
	}

	matrix4 singular;
	matrix4_identity(&singular);
	singular.x.x = 0.0f;
	// A board scaled to nothing still covers the canvas: the world matrix
	// is replaced instead of undone.
	ASSERT_TRUE(place_composite(input_for(snap, singular, 100, 50), p));
	EXPECT_TRUE(p.use_transform);
	EXPECT_TRUE(p.reset_transform);
	EXPECT_FLOAT_EQ(p.quad_width, 1920.0f);
}

TEST(Composite, ShapeLivesInCanvasPixelsAlongTheBoardEdges)
{
	DrawSnapshot snap;
	snap.shape.feather = 10.0f;
	matrix4 m = translation(50, 60);
	m.x.x = 2.0f;
	m.y.y = 2.0f;
	FinalPassParams p;
	ChainInput in = input_for(snap, m, 300, 200);
	ASSERT_TRUE(place_composite(in, p));
	EXPECT_TRUE(p.shaped);
	EXPECT_FLOAT_EQ(p.shape_kind, 0.0f);
	EXPECT_FLOAT_EQ(p.local_du.x, 600.0f);
	EXPECT_FLOAT_EQ(p.local_dv.y, 400.0f);
	EXPECT_FLOAT_EQ(p.local_du.y + p.local_dv.x + p.local_origin.x + p.local_origin.y, 0.0f);
	EXPECT_FLOAT_EQ(p.feather, 10.0f); // stays in canvas pixels

	// The crop's visible rectangle, and feather limited to half its
	// smaller side: 15 visible pixels high allow 7.5.
	snap.shape.kind = ShapeKind::Ellipse;
	in = input_for(snap, translation(0, 0), 300, 200);
	in.crop = {10, 100, 20, 85};
	ASSERT_TRUE(place_composite(in, p));
	EXPECT_FLOAT_EQ(p.shape_kind, 1.0f);
	EXPECT_FLOAT_EQ(p.shape_rect.x, 10.0f);
	EXPECT_FLOAT_EQ(p.shape_rect.y, 100.0f);
	EXPECT_FLOAT_EQ(p.shape_rect.z, 280.0f);
	EXPECT_FLOAT_EQ(p.shape_rect.w, 115.0f);
	EXPECT_FLOAT_EQ(p.feather, 7.5f);

	// Rotation keeps lengths: a 45 degree board's frame is its own size.
	in = input_for(snap, rotated(45.0f, 1.0f, 500, 100), 300, 200);
	ASSERT_TRUE(place_composite(in, p));
	EXPECT_NEAR(p.local_du.x, 300.0f, 1e-3f);
	EXPECT_NEAR(p.local_dv.y, 200.0f, 1e-3f);
}

TEST(Composite, InvertedBoardSpansTheCanvasWithItsShapeInTheBoardsFrame)
{
	DrawSnapshot snap;
	snap.shape.invert = true;
	snap.shape.kind = ShapeKind::Rounded;
	snap.shape.corner_radius = 500.0f;
	matrix4 m = rotated(30.0f, 1.5f, 700, 200);
	m.x.x *= 2.0f; // 3 canvas pixels per board pixel across, 1.5 down
	m.x.y *= 2.0f;
	ChainInput in = input_for(snap, m, 300, 200);
	in.crop = {10, 20, 30, 40};
	FinalPassParams p;
	ASSERT_TRUE(place_composite(in, p));
	EXPECT_TRUE(p.use_transform);
	EXPECT_FALSE(p.reset_transform);
	EXPECT_TRUE(p.shaped);
	EXPECT_TRUE(p.invert);
	EXPECT_FLOAT_EQ(p.quad_width, 1920.0f);
	EXPECT_FLOAT_EQ(p.quad_height, 1080.0f);
	EXPECT_FLOAT_EQ(p.shape_kind, 2.0f);
	// Half the visible rectangle's smaller side: 140 rows of 1.5 pixels.
	EXPECT_FLOAT_EQ(p.corner_radius, 105.0f);
	// Each board pixel's canvas place, as the canvas quad's uv, gives its
	// place in the board's frame.
	const float points[][2] = {{0, 0}, {300, 0}, {0, 200}, {150, 77}, {-40, 260}};
	for (const auto &b : points) {
		const vec3 c = map_local_point(m, b[0], b[1]);
		const float u = c.x / 1920.0f, v = c.y / 1080.0f;
		EXPECT_NEAR(p.local_origin.x + p.local_du.x * u + p.local_dv.x * v, b[0] * 3.0f, 0.1f);
		EXPECT_NEAR(p.local_origin.y + p.local_du.y * u + p.local_dv.y * v, b[1] * 1.5f, 0.1f);
	}

	// Scaled to nothing, the board has no shape: every pixel lies far
	// outside a plain rectangle, so all of the canvas is hidden.
	matrix4 flat = m;
	vec4_zero(&flat.x);
	ASSERT_TRUE(place_composite(input_for(snap, flat, 300, 200), p));
	EXPECT_TRUE(p.use_transform);
	EXPECT_FLOAT_EQ(p.shape_kind, 0.0f);
	EXPECT_LT(p.local_origin.x, -1e5f);
	EXPECT_FLOAT_EQ(p.local_du.x + p.local_du.y + p.local_dv.x + p.local_dv.y, 0.0f);
	EXPECT_FLOAT_EQ(p.feather, 0.0f);
}

TEST(Composite, RoundedCornersStayWithinHalfTheSmallerSide)
{
	DrawSnapshot snap;
	snap.shape.kind = ShapeKind::Rounded;
	FinalPassParams p;
	for (const auto &[radius, expected] : {std::pair{24.0f, 24.0f}, {0.0f, 0.0f}, {80.0f, 50.0f}}) {
		snap.shape.corner_radius = radius;
		ASSERT_TRUE(place_composite(input_for(snap, translation(0, 0), 300, 100), p));
		EXPECT_TRUE(p.shaped) << radius;
		EXPECT_FALSE(p.use_transform) << radius;
		EXPECT_FLOAT_EQ(p.corner_radius, expected) << radius;
	}
	// Another shape has no corner radius.
	snap.shape.kind = ShapeKind::Ellipse;
	ASSERT_TRUE(place_composite(input_for(snap, translation(0, 0), 300, 100), p));
	EXPECT_FLOAT_EQ(p.corner_radius, 0.0f);
}

TEST(BoardPlacement, CropAndTransformGiveTheVisibleBox)
{
	const obs_sceneitem_crop crop = {10, 20, 30, 40};
	const matrix4 m = board_to_canvas(translation(100, 50), crop);
	CanvasBox box;
	ASSERT_TRUE(visible_bounding_box(m, crop, 200, 100, box));
	// The visible part's top-left corner sits at the item's position.
	EXPECT_FLOAT_EQ(box.x0, 100.0f);
	EXPECT_FLOAT_EQ(box.y0, 50.0f);
	EXPECT_FLOAT_EQ(box.x1, 260.0f);
	EXPECT_FLOAT_EQ(box.y1, 90.0f);

	const obs_sceneitem_crop all = {100, 0, 100, 0};
	EXPECT_FALSE(visible_bounding_box(board_to_canvas(translation(0, 0), all), all, 200, 100, box));

	ASSERT_TRUE(visible_bounding_box(rotated(90.0f, 1.0f, 300, 0), {}, 200, 100, box));
	EXPECT_NEAR(box.x0, 200.0f, 1e-3f);
	EXPECT_NEAR(box.x1, 300.0f, 1e-3f);
	EXPECT_NEAR(box.y0, 0.0f, 1e-3f);
	EXPECT_NEAR(box.y1, 200.0f, 1e-3f);
}

TEST(CopyOrRedraw, ChainFormatFollowsTheColourSpace)
{
	EXPECT_EQ(chain_format_for(GS_CS_SRGB), GS_RGBA);
	EXPECT_EQ(chain_format_for(GS_CS_SRGB_16F), GS_RGBA16F);
	EXPECT_EQ(chain_format_for(GS_CS_709_EXTENDED), GS_RGBA16F);
	EXPECT_EQ(chain_format_for(GS_CS_709_SCRGB), GS_RGBA16F);
}

TEST(CopyOrRedraw, CopiesOnlyWhenTheTargetShowsTheCanvasOneToOne)
{
	const matrix4 item = rotated(10.0f, 1.5f, 40, 30);
	TargetView view;
	view.has_target = true;
	view.width = 1920;
	view.height = 1080;
	view.format = GS_RGBA;
	view.viewport = {0, 0, 1920, 1080};
	view.world = item;
	// The view changed from the canvas's own, the chain's format, and
	// whether the board copies from the target.
	struct Case {
		const char *what;
		std::function<void(TargetView &)> change;
		gs_color_format chain;
		bool copies;
	};
	const Case cases[] = {
	    {"the canvas", [](TargetView &) {}, GS_RGBA, true},
	    {"BGRA target", [](TargetView &v) { v.format = GS_BGRA; }, GS_RGBA, true},
	    {"no target", [](TargetView &v) { v.has_target = false; }, GS_RGBA, false},
	    {"narrower target", [](TargetView &v) { v.width = 1280; }, GS_RGBA, false},
	    {"viewport moved", [](TargetView &v) { v.viewport = {10, 0, 1920, 1080}; }, GS_RGBA, false},
	    {"viewport smaller", [](TargetView &v) { v.viewport = {0, 0, 960, 540}; }, GS_RGBA, false},
	    {"16-bit target", [](TargetView &v) { v.format = GS_RGBA16F; }, GS_RGBA, false},
	    {"16-bit target and chain", [](TargetView &v) { v.format = GS_RGBA16F; }, GS_RGBA16F, true},
	    {"16-bit chain", [](TargetView &) {}, GS_RGBA16F, false},
	    {"10-bit target", [](TargetView &v) { v.format = GS_R10G10B10A2; }, GS_RGBA, false},
	    // The world matrix must be the item's own, within 0.001 per element.
	    {"world 0.0009 off", [](TargetView &v) { v.world.t.x += 0.0009f; }, GS_RGBA, true},
	    {"world 0.0029 off",
	     [](TargetView &v) {
		     v.world.t.x += 0.0009f;
		     v.world.t.x += 0.002f;
	     },
	     GS_RGBA, false},
	    {"world scaled", [](TargetView &v) { v.world.x.x *= 0.5f; }, GS_RGBA, false},
	    {"world projective", [](TargetView &v) { v.world.z.w = 0.01f; }, GS_RGBA, false},
	};
	for (const Case &c : cases) {
		TargetView v = view;
		c.change(v);
		EXPECT_EQ(target_shows_canvas(v, 1920, 1080, c.chain, item), c.copies) << c.what;
	}
}

} // namespace
