// SPDX-License-Identifier: GPL-2.0-or-later
// The fade as arithmetic: one tick moves the level toward its target by the
// tick's share of the fade time.
#include <gtest/gtest.h>

#include <initializer_list>

#include "placement/fade.h"

namespace {

// Runs n ticks of the given length and returns the level after them.
float ticks(float level, float target, float fade_seconds, int n, float seconds = 1.0f / 60.0f)
{
	for (int i = 0; i < n; ++i)
		level = fade_toward(level, target, fade_seconds, seconds);
	return level;
}

// One tick: level, target, fade time, tick length, and the level after it.
struct Tick {
	float level, target, fade_seconds, seconds, after;
};

void expect_ticks(std::initializer_list<Tick> ticks)
{
	for (const Tick &t : ticks)
		EXPECT_EQ(fade_toward(t.level, t.target, t.fade_seconds, t.seconds), t.after)
		    << t.level << " to " << t.target << " over " << t.fade_seconds << " s, tick " << t.seconds << " s";
}

TEST(Fade, WithoutFadeTimeTheLevelIsTheTargetAtOnce)
{
	expect_ticks({{1.0f, 0.0f, 0.0f, 1.0f / 60.0f, 0.0f},
		      {0.2f, 0.7f, 0.0f, 1.0f / 60.0f, 0.7f},
		      {0.2f, 0.7f, -1.0f, 1.0f / 60.0f, 0.7f},
		      {0.2f, 0.7f, 0.0f, 0.0f, 0.7f}});
}

TEST(Fade, FadesOutOverTwoSecondsAndNeverBelowZero)
{
	float level = 1.0f;
	for (int i = 1; i <= 130; ++i) {
		const float next = fade_toward(level, 0.0f, 2.0f, 1.0f / 60.0f);
		EXPECT_GE(next, 0.0f);
		if (level > 1.0f / 120.0f)
			EXPECT_NEAR(level - next, 1.0f / 120.0f, 1e-5f) << "tick " << i;
		level = next;
		if (i == 60)
			EXPECT_NEAR(level, 0.5f, 1e-4f);
		if (i >= 121)
			EXPECT_EQ(level, 0.0f) << "tick " << i;
	}
}

TEST(Fade, RisesToHalfStrengthInHalfTheFadeTimeAndStays)
{
	EXPECT_NEAR(ticks(0.0f, 0.5f, 1.0f, 15), 0.25f, 1e-5f);
	EXPECT_NEAR(ticks(0.0f, 0.5f, 1.0f, 30), 0.5f, 1e-5f);
	EXPECT_EQ(ticks(0.0f, 0.5f, 1.0f, 31), 0.5f);
	EXPECT_EQ(ticks(0.0f, 0.5f, 1.0f, 600), 0.5f);
}

TEST(Fade, LowerStrengthIsReachedGraduallyNotByAJump)
{
	// Strength 100 % to 25 % with a fade time of 4 s: 0.75 to go at 0.25 a
	// second takes 3 s.
	EXPECT_NEAR(fade_toward(1.0f, 0.25f, 4.0f, 1.0f / 60.0f), 1.0f - 1.0f / 240.0f, 1e-6f);
	EXPECT_NEAR(ticks(1.0f, 0.25f, 4.0f, 90), 0.625f, 1e-4f);
	EXPECT_GT(ticks(1.0f, 0.25f, 4.0f, 179), 0.25f);
	EXPECT_EQ(ticks(1.0f, 0.25f, 4.0f, 181), 0.25f);
}

TEST(Fade, ALongTickStopsAtTheTarget)
{
	expect_ticks(
	    {{0.1f, 0.9f, 0.5f, 10.0f, 0.9f}, {0.9f, 0.1f, 0.5f, 10.0f, 0.1f}, {0.4f, 0.4f, 0.5f, 1.0f / 60.0f, 0.4f}});
}

} // namespace
