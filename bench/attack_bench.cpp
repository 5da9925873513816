// SPDX-License-Identifier: GPL-2.0-or-later
// Which PIN lies beneath a board, found by someone who can list the PINs it
// could be (harness::run_attack): four digits in the small text's font
// (letters 11 pixels high, a 16-pixel UI font), every candidate drawn at the
// same place under the same board by this host and module, frames read
// from the program output of a 1280 x 720 canvas. Still: one frame; moving:
// the text one pixel a frame to the right for 16 frames, distances summed.
// Prints figures; judges nothing.
//
//   mistpane-attack-bench [--only blur|mosaic|emergency|cover]
//                         [--secrets N] [--candidates N]
//
// MISTPANE_MODULE=path loads another build's module instead of this one's.
#include <obs-module.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "harness/attack.h"
#include "harness/host.h"

namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;
constexpr int kSteps = 16;

struct Setting {
	const char *key; // for --only
	const char *name;
	const char *json;
	bool emergency;
};

constexpr Setting kSettings[] = {
    {"blur", "blur 20 (default)", "\"mode\": \"blur\", \"blur_radius\": 20", false},
    {"mosaic", "mosaic 24 (default)", "\"mode\": \"mosaic\", \"mosaic_size\": 24", false},
    {"emergency", "emergency cover (6 %, 43-px cells)", "\"emergency\": true", true},
    {"cover", "cover", "\"mode\": \"cover\"", false},
};

std::vector<int> secrets(int n)
{
	std::vector<int> out;
	for (uint32_t i = 0; int(out.size()) < n; ++i) {
		uint32_t x = (i + 1) * 0x9e3779b9U;
		x ^= x >> 15;
		x *= 0x2c1b3c6dU;
		x ^= x >> 12;
		out.push_back(int(x % 10000));
	}
	return out;
}

void report(const Setting &setting, const harness::AttackOutcome &outcome, double seconds)
{
	const harness::Standing still = harness::summary(outcome.still), moving = harness::summary(outcome.moving);
	std::printf("| %s | %.3f / %.1f | %.3f / %.1f | %lld | %.0f s |\n", setting.name, still.top1, still.rank,
		    moving.top1, moving.rank, (long long)outcome.own_distance, seconds);
}

} // namespace

int main(int argc, char **argv)
{
	std::setvbuf(stdout, nullptr, _IOLBF, 0);
	std::string only;
	int secret_count = 6, candidate_count = 1000;
	for (int i = 1; i + 1 < argc; ++i) {
		if (std::strcmp(argv[i], "--only") == 0)
			only = argv[++i];
		else if (std::strcmp(argv[i], "--secrets") == 0)
			secret_count = std::atoi(argv[++i]);
		else if (std::strcmp(argv[i], "--candidates") == 0)
			candidate_count = std::atoi(argv[++i]);
	}
	harness::HostOptions options;
	options.width = kWidth;
	options.height = kHeight;
	if (!harness::start(options))
		return 1;
	const char *module = std::getenv("MISTPANE_MODULE");
	std::printf("module: %s\n", module && *module ? module : "this build's");

	const std::vector<int> truth = secrets(secret_count);
	const std::vector<int> candidates = harness::candidate_pins(truth, size_t(candidate_count));
	std::printf("%zu secret PINs, %zu candidates each (the secrets, every PIN one digit away from one, the "
		    "rest drawn at random); ties count as broken at random\n\n",
		    truth.size(), candidates.size());
	std::printf("| setting | still: top-1 / median rank | moving, %d frames: top-1 / median rank | own "
		    "distance | time |\n|---|---|---|---|---|\n",
		    kSteps);
	for (const Setting &setting : kSettings) {
		if (!only.empty() && only != setting.key)
			continue;
		const harness::AttackLayout layout = setting.emergency ? harness::emergency_layout(kWidth, kHeight)
								       : harness::board_layout(kWidth, kHeight);
		const auto begin = std::chrono::steady_clock::now();
		const harness::AttackOutcome outcome =
		    harness::run_attack(setting.json, layout, truth, candidates, kSteps);
		const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
		report(setting, outcome, took.count());
	}
	const long leaks = harness::stop();
	return leaks == 0 ? 0 : 1;
}
