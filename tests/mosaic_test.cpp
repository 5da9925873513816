// SPDX-License-Identifier: GPL-2.0-or-later
// Mosaic boards over a gradient: one colour per cell, cells on the grid
// anchored at the canvas origin, with the size the fade level gives.
#include "harness/render_util.h"

namespace {

using rt::CellCheck;
using rt::check_cells;
using rt::Rect;

TEST(Mosaic, CellsAreOneColourOnTheCanvasGrid)
{
	rt::Stage stage(R"({"mode": "mosaic", "width": 250, "height": 170})", "gradient");
	stage.place(37, 53);
	const harness::Image out = harness::settled_frame();
	const harness::Image ref = rt::pattern_image("gradient");
	const Rect board = {37, 53, 287, 223};
	const CellCheck check = check_cells(out, ref, board, 24.0f, 11.5f);
	for (auto [x, y] : {std::pair{5, 5}, std::pair{600, 300}, std::pair{50, 60}, std::pair{51, 60}})
		EXPECT_GE(check.cells, 50);
	EXPECT_EQ(check.mixed, 0);
	EXPECT_EQ(check.equal_neighbours, 0);
	// Sixteen taps a cell come close to its mean.
	EXPECT_LT(check.worst_mean_error, 3.0);
	// Cells cut by the board's edge keep the colour of the whole cell.
	for (int y = 53; y < 72; ++y)
		EXPECT_LE(std::abs(int(out.at(37, y)[0]) - int(out.at(47, 60)[0])), 1) << y;
	// Nothing outside the board.
	const Rect box = rt::changed_box(out, ref, 0);
	EXPECT_GE(box.x0, board.x0);
	EXPECT_GE(box.y0, board.y0);
	EXPECT_LE(box.x1, board.x1);
	EXPECT_LE(box.y1, board.y1);
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Copy);
}

TEST(Mosaic, FadingCellsGrowWithTheSquareOfTheLevel)
{
	rt::Stage stage(R"({"mode": "mosaic", "width": 400, "height": 250, "fade_seconds": 0})", "gradient");
	stage.place(100, 60);
	const harness::Image ref = rt::pattern_image("gradient");
	const Rect board = {100, 60, 500, 310};
	for (int strength : {50, 70, 85, 100}) {
		stage.update("{\"strength\": " + std::to_string(strength) + "}");
		const harness::Image out = harness::settled_frame();
		const float level = strength / 100.0f;
		const float cell = 23.0f * level * level + 1.0f;
		// The low-pass grows with the cell: half of it, at least 6 pixels,
		// at most the cell less one.
		const float sigma = std::min(cell - 1.0f, std::max(6.0f, (cell - 1.0f) * 0.5f));
		const CellCheck check = check_cells(out, ref, board, cell, sigma);
		EXPECT_GT(check.cells, 20) << strength;
		EXPECT_EQ(check.mixed, 0) << "strength " << strength << " cell " << cell;
		EXPECT_EQ(check.equal_neighbours, 0) << "strength " << strength << " cell " << cell;
		EXPECT_LT(check.worst_mean_error, 3.0) << strength;
	}
}

TEST(Mosaic, LargeCellsReadFromTheHalvings)
{
	// 120-pixel cells come from level 4 of the capture.
	rt::Stage stage(R"({"mode": "mosaic", "mosaic_size": 120, "width": 640, "height": 360})", "gradient");
	const harness::Image out = harness::settled_frame();
	const harness::Image ref = rt::pattern_image("gradient");
	const CellCheck check = check_cells(out, ref, {0, 0, 640, 360}, 120.0f, 59.5f);
	EXPECT_EQ(check.cells, 15);
	EXPECT_EQ(check.mixed, 0);
	EXPECT_EQ(check.equal_neighbours, 0);
	// A low-pass of 60 pixels runs 32 pixels a texel, where the canvas
	// edge holds its last texel rather than its last pixel.
	EXPECT_LT(check.worst_mean_error, 6.0);
}

TEST(Mosaic, EachCellIsTheMeanOfThePictureLowPassed)
{
	// Over fine text and edges: the mean of the picture after a Gaussian of
	// half the cell (at least 6 pixels), within 2 levels of the CPU's.
	struct Case {
		const char *settings;
		float cell, sigma;
	};
	for (const Case c : {Case{R"({"mosaic_size": 8})", 8, 6}, Case{R"({"mosaic_size": 24})", 24, 11.5f},
			     Case{R"({"mosaic_size": 40})", 40, 19.5f},
			     Case{R"({"emergency": true, "emergency_size": 10})", 36, 17.5f}}) {
		SCOPED_TRACE(c.settings);
		rt::Stage stage(R"({"mode": "mosaic", "width": 400, "height": 240})", "detail");
		stage.place(96, 48);
		stage.update(c.settings);
		const harness::Image out = harness::settled_frame();
		// At the canvas edge the low-pass holds the edge texel of the level
		// it runs on, not the edge pixel: the cells along it are left out.
		const Rect judged = c.cell == 36 ? Rect{36, 36, 612, 324} : Rect{96, 48, 496, 288};
		const CellCheck check = check_cells(out, rt::pattern_image("detail"), judged, c.cell, c.sigma);
		EXPECT_GT(check.cells, 20);
		EXPECT_EQ(check.mixed, 0);
		EXPECT_LE(check.worst_mean_error, 2.0) << check.off_by_more_than_two << " of " << check.cells;
	}
}

TEST(Mosaic, OnePixelCellsLeaveThePictureAsItIs)
{
	// Strength 1 %: cells of 1.0023 pixels read by single points.
	rt::Stage stage(R"({"mode": "mosaic", "width": 300, "height": 200, "strength": 1})", "gradient");
	stage.place(50, 50);
	const harness::Image out = harness::settled_frame();
	const harness::Image ref = rt::pattern_image("gradient");
	EXPECT_LE(rt::max_diff(out, ref), 2);
	EXPECT_EQ(rt::method_of(stage.board), CaptureMethod::Copy);
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
