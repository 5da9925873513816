// SPDX-License-Identifier: GPL-2.0-or-later
// What a board's draw does for each combination that matters: a plain
// function, checked without a host or a display.
#include <gtest/gtest.h>

#include "render/draw_plan.h"

namespace {

using A = DrawAction;
constexpr PlacementStatus kPlaced = PlacementStatus::Placed;
constexpr PlacementStatus kNotPlaced = PlacementStatus::NotPlaced;
constexpr PlacementStatus kShared = PlacementStatus::Shared;

struct Case {
	const char *what;
	DrawInputs in;
	DrawAction want;
};

// busy, status, hides, emergency, cover_mode, panic_cover, live, has_effect, cache_fresh
const Case kCases[] = {
    {"a draw inside its own first draw", {true, kPlaced, true, false, false, false, true, true, false}, A::Nothing},
    {"faded out", {false, kPlaced, false, false, false, false, true, true, false}, A::Nothing},
    {"first draw of a frame", {false, kPlaced, true, false, false, false, false, true, false}, A::Capture},
    {"a later view", {false, kPlaced, true, false, false, false, false, true, true}, A::Replay},
    {"no effect", {false, kPlaced, true, false, false, false, true, false, false}, A::FailureCover},
    {"not placed, not on a canvas", {false, kNotPlaced, true, false, false, false, false, true, false}, A::Nothing},
    {"a private copy on the canvas", {false, kNotPlaced, true, false, false, false, true, true, false}, A::Capture},
    {"shared", {false, kShared, true, false, false, false, true, true, false}, A::Hatch},
    {"shared and faded out", {false, kShared, false, false, false, false, false, true, false}, A::Hatch},
    {"shared, emergency on a canvas", {false, kShared, true, true, false, false, true, true, false}, A::Capture},
    {"shared, emergency elsewhere", {false, kShared, true, true, false, false, false, true, false}, A::Hatch},
    {"cover", {false, kPlaced, true, false, true, false, false, true, false}, A::Cover},
    {"cover, a later view", {false, kPlaced, true, false, true, false, true, true, true}, A::Replay},
    {"cover without its effect", {false, kPlaced, true, false, true, false, true, false, false}, A::FailureCover},
    {"cover, faded out", {false, kPlaced, false, false, true, false, true, true, false}, A::Nothing},
    {"cover, shared", {false, kShared, true, false, true, false, true, true, false}, A::Hatch},
    {"cover, not placed, not on a canvas",
     {false, kNotPlaced, true, false, true, false, false, true, false},
     A::Nothing},
    {"cover with the emergency cover on", {false, kPlaced, true, true, true, false, true, true, false}, A::Capture},
    {"panic cover on its canvas", {false, kNotPlaced, true, true, false, true, true, true, false}, A::Capture},
    {"panic cover it cannot read", {false, kNotPlaced, true, true, false, true, false, true, false}, A::Hatch},
    {"panic cover in cover mode", {false, kNotPlaced, true, false, true, true, false, true, false}, A::Cover},
};

TEST(DrawPlan, EachCaseDoesWhatItShould)
{
	for (const Case &c : kCases)
		EXPECT_EQ(plan_draw(c.in), c.want) << c.what;
}

} // namespace
