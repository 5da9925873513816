// SPDX-License-Identifier: GPL-2.0-or-later
// A PIN beneath a board, looked for as someone who can list the PINs it
// could be does (harness::run_attack): under a blur it is found, so the
// measure sees what a board lets through; under the cover, which draws
// nothing of the picture, it ranks no better than chance.
#include <gtest/gtest.h>

#include "harness/attack.h"
#include "harness/host.h"

namespace {

TEST(Attack, ABlurGivesAPinAwayTheCoverDoesNot)
{
	const std::vector<int> secrets{815, 4929};
	const std::vector<int> candidates = harness::candidate_pins(secrets, 144);
	const harness::AttackLayout layout = harness::board_layout(1280, 720);
	struct Case {
		const char *settings;
		bool found;
	};
	for (const Case c : {Case{R"("mode": "blur", "blur_radius": 20)", true}, Case{R"("mode": "cover")", false}}) {
		SCOPED_TRACE(c.settings);
		const harness::AttackOutcome outcome = harness::run_attack(c.settings, layout, secrets, candidates, 1);
		ASSERT_EQ(outcome.still.size(), secrets.size());
		EXPECT_EQ(outcome.own_distance, 0) << "a candidate drawn elsewhere differs from the same text";
		for (const harness::Standing &s : outcome.still) {
			if (c.found)
				EXPECT_LE(s.rank, 2.0);
			else
				EXPECT_GE(s.rank, double(candidates.size()) / 4.0);
		}
	}
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	options.width = 1280;
	options.height = 720;
	return harness::run_tests(argc, argv, options);
}
