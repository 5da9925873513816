// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of the per-frame ticks of many boards, the placement scan included,
// in the real host. Prints figures; judges nothing.
//
// Set-up: 200 boards over 50 scenes; every scene nests up to two others,
// holds two groups (one board in the first) and filler items of 500
// pattern sources, so that all scene items together (group items, items in
// groups, nested-scene items and boards) come to the wanted total. Nothing
// is on the output, so the host draws none of it.
//
// Measured: the module's own tick function run for 200 board records (one
// per board source) from this thread, once per host video frame, a few
// milliseconds into the frame so that the module's ticks on the graphics
// thread are done. Two runs of frames per set-up: one where nothing
// changes (the held scan answers; once a second it is redone anyway), and
// one where a filler item is added to or removed from a scene before each
// frame's ticks (the first tick rescans). Also shown: the host's own
// per-source tick times of the loaded module's boards, summed (its source
// profiler, averaged over its last five seconds, which is one run).
#include <obs.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "board/blur_board.h"
#include "harness/host.h"
#include "placement/registry.h"
#include "host/source_profiler.h"
#include "placement/tick.h"

namespace {

constexpr int kBoards = 200;
constexpr int kScenes = 50;
constexpr int kPatterns = 500; // distinct filler sources, so the scan meets many
constexpr int kFramesPerSetup = 150; // five seconds at 30 frames a second
constexpr int kBackToBack = 200;

using Clock = std::chrono::steady_clock;

struct Setup {
	std::vector<obs_scene_t *> scenes;
	std::vector<obs_sceneitem_t *> groups;
	size_t items = 0;
};

obs_sceneitem_t *counted(Setup &setup, obs_sceneitem_t *item)
{
	setup.items += item != nullptr;
	return item;
}

Setup build(size_t wanted_items, const std::vector<obs_source_t *> &boards, const std::vector<obs_source_t *> &patterns)
{
	Setup setup;
	for (int s = 0; s < kScenes; ++s)
		setup.scenes.push_back(obs_scene_create(("bench scene " + std::to_string(s)).c_str()));

	std::vector<obs_scene_t *> groups; // inner scenes of the groups
	for (int s = 0; s < kScenes; ++s) {
		obs_scene_t *scene = setup.scenes[s];
		// A tree of nested scenes.
		for (int child : {2 * s + 1, 2 * s + 2})
			if (child < kScenes)
				counted(setup, obs_scene_add(scene, obs_scene_get_source(setup.scenes[child])));
		for (int g = 0; g < 2; ++g) {
			obs_sceneitem_t *group = counted(
			    setup, obs_scene_add_group(scene, ("bench group " + std::to_string(s * 2 + g)).c_str()));
			groups.push_back(obs_sceneitem_group_get_scene(group));
			setup.groups.push_back(group);
		}
		const int per_scene = kBoards / kScenes;
		for (int b = 0; b < per_scene; ++b) {
			obs_source_t *board = boards[s * per_scene + b];
			counted(setup, obs_scene_add(b == 0 ? groups[s * 2] : scene, board));
		}
	}

	// Filler, spread evenly: every third item into a group.
	size_t n = 0;
	while (setup.items < wanted_items) {
		obs_source_t *pattern = patterns[n % patterns.size()];
		obs_scene_t *into =
		    n % 3 == 0 ? groups[(n / 3) % groups.size()] : setup.scenes[n % setup.scenes.size()];
		counted(setup, obs_scene_add(into, pattern));
		++n;
	}
	return setup;
}

void tear_down(Setup &setup)
{
	for (obs_scene_t *scene : setup.scenes) {
		obs_source_remove(obs_scene_get_source(scene));
		obs_scene_release(scene);
	}
	setup.scenes.clear();
}

// The floor any scan pays: the host's own enumeration of every scene and
// group once, with a callback that only reads each item's source type id.
size_t bare_walk(const Setup &setup)
{
	size_t seen = 0;
	auto step = [](obs_scene_t *, obs_sceneitem_t *item, void *param) {
		*static_cast<size_t *>(param) += obs_source_get_id(obs_sceneitem_get_source(item)) != nullptr;
		return true;
	};
	for (obs_scene_t *scene : setup.scenes)
		obs_scene_enum_items(scene, step, &seen);
	for (obs_sceneitem_t *group : setup.groups)
		obs_sceneitem_group_enum_items(group, step, &seen);
	return seen;
}

uint64_t wait_next_frame()
{
	const uint64_t now = obs_get_video_frame_time();
	while (obs_get_video_frame_time() == now)
		std::this_thread::sleep_for(std::chrono::microseconds(100));
	return obs_get_video_frame_time();
}

double median(std::vector<double> values)
{
	if (values.empty())
		return 0.0;
	std::sort(values.begin(), values.end());
	return values[values.size() / 2];
}

double mean(const std::vector<double> &values)
{
	return values.empty() ? 0.0 : std::accumulate(values.begin(), values.end(), 0.0) / (double)values.size();
}

using Records = std::vector<std::unique_ptr<BlurBoard>>;

struct Frames {
	std::vector<double> all_us, first_us;
	int discarded = 0; // a frame boundary fell inside the ticks
	double host_us = 0.0;
};

// The loaded module's own ticks as the host timed them.
double host_tick_sum(const std::vector<obs_source_t *> &boards)
{
	double sum = 0.0;
	for (obs_source_t *board : boards) {
		profiler_result_t result = {};
		if (source_profiler_fill_result(board, &result))
			sum += (double)result.tick_avg / 1000.0;
	}
	return sum;
}

Frames tick_frames(const Setup &setup, Records &records, obs_source_t *filler, bool change_every_frame,
		   const std::vector<obs_source_t *> &boards)
{
	Frames frames;
	const float seconds = 1.0f / (float)harness::options().fps;
	obs_sceneitem_t *extra = nullptr;
	int changes = 0;
	while ((int)frames.all_us.size() < kFramesPerSetup) {
		const uint64_t frame = wait_next_frame();
		if (change_every_frame) {
			if (extra) {
				obs_sceneitem_remove(extra);
				extra = nullptr;
			} else {
				extra = obs_scene_add(setup.scenes[changes % setup.scenes.size()], filler);
			}
			++changes;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
		const Clock::time_point start = Clock::now();
		board_tick(records[0].get(), seconds);
		const Clock::time_point after_first = Clock::now();
		for (size_t i = 1; i < records.size(); ++i)
			board_tick(records[i].get(), seconds);
		const Clock::time_point end = Clock::now();
		if (obs_get_video_frame_time() != frame) {
			++frames.discarded;
			continue;
		}
		frames.all_us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
		frames.first_us.push_back(std::chrono::duration<double, std::micro>(after_first - start).count());
	}
	frames.host_us = host_tick_sum(boards);
	if (extra)
		obs_sceneitem_remove(extra);
	return frames;
}

// A source type that no scene item uses. A query for it rescans for that
// type and finds nothing, so the board's query right after rescans as it
// would after a change, with no other type's entries to drop first.
obs_source_t *make_unplaced_source()
{
	static int data;
	obs_source_info info = {};
	info.id = "registry_bench_unplaced";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.get_name = [](void *) { return "unplaced"; };
	info.create = [](obs_data_t *, obs_source_t *) -> void * { return &data; };
	info.destroy = [](void *) {};
	obs_register_source(&info);
	return obs_source_create_private(info.id, "unplaced", nullptr);
}

void run(size_t wanted_items, const std::vector<obs_source_t *> &boards, const std::vector<obs_source_t *> &patterns,
	 obs_source_t *unplaced)
{
	Setup setup = build(wanted_items, boards, patterns);

	// Records of our own for the same sources: the module's tick code
	// without racing the loaded module's ticks of the real boards.
	Records records;
	for (obs_source_t *source : boards) {
		records.push_back(std::make_unique<BlurBoard>());
		records.back()->source = source;
	}
	const float seconds = 1.0f / (float)harness::options().fps;

	// The set-up's own changes are paid before the quiet frames start.
	wait_next_frame();
	board_tick(records[0].get(), seconds);
	const Frames quiet = tick_frames(setup, records, patterns[0], false, boards);
	const Frames changing = tick_frames(setup, records, patterns[0], true, boards);

	// Minimums of back-to-back runs: what load from other programs cannot
	// inflate. A query for another type makes the board's next query rescan
	// at once; after clear() the scan also connects to every scene's
	// signals again.
	double scan_min = 1e18, fresh_min = 1e18, bare_min = 1e18;
	for (int i = 0; i < kBackToBack; ++i) {
		Placement other;
		placement_registry().query(unplaced, other);
		release_placement(other);
		const Clock::time_point t0 = Clock::now();
		board_tick(records[0].get(), seconds);
		const Clock::time_point t1 = Clock::now();
		bare_walk(setup);
		const Clock::time_point t2 = Clock::now();
		placement_registry().clear();
		const Clock::time_point t3 = Clock::now();
		board_tick(records[0].get(), seconds);
		const Clock::time_point t4 = Clock::now();
		scan_min = std::min(scan_min, std::chrono::duration<double, std::micro>(t1 - t0).count());
		bare_min = std::min(bare_min, std::chrono::duration<double, std::micro>(t2 - t1).count());
		fresh_min = std::min(fresh_min, std::chrono::duration<double, std::micro>(t4 - t3).count());
	}

	int placed_once = 0;
	for (auto &record : records) {
		placed_once += record->placement.count == 1;
		release_placement(record->placement);
	}

	const auto max_of = [](const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); };
	std::printf("%7zu  %6zu  %9.1f  %9.1f  %9.1f  %9.1f  %9.1f  %9.1f  %9.1f  %9.1f  %9.1f  %9.1f  %9.1f  "
		    "%9.1f  %3d/%d  %d/%d\n",
		    setup.items, quiet.all_us.size(), median(quiet.all_us), mean(quiet.all_us), max_of(quiet.all_us),
		    median(changing.all_us), mean(changing.all_us), median(changing.first_us), scan_min, fresh_min,
		    bare_min, quiet.host_us, changing.host_us, 1000.0 * scan_min / (double)setup.items, placed_once,
		    kBoards, quiet.discarded, changing.discarded);
	std::fflush(stdout);

	placement_registry().clear();
	tear_down(setup);
	harness::next_frames(3);
}

} // namespace

int main()
{
	harness::HostOptions options;
	if (!harness::start(options))
		return 2;
	source_profiler_enable(true);

	std::vector<obs_source_t *> boards, patterns;
	for (int b = 0; b < kBoards; ++b)
		boards.push_back(harness::make_board(("bench board " + std::to_string(b)).c_str()));
	for (int p = 0; p < kPatterns; ++p)
		patterns.push_back(
		    harness::make_pattern(("bench pattern " + std::to_string(p)).c_str(), 16, 16, "solid"));

	std::printf("registry_bench: %d boards over %d scenes (nested scenes and groups), host at %u fps, "
		    "%d measured frames per set-up\n",
		    kBoards, kScenes, options.fps, kFramesPerSetup);
	std::printf(
	    "all = the %d tick calls of one frame; quiet = nothing changes (the held scan answers, redone "
	    "once a second); change = a filler item added or removed before every frame's ticks, so the "
	    "first (1st) rescans; scan-min = the least of %d back-to-back rescans; fresh-min = the same "
	    "right after clear(), connecting to every scene's signals again; bare-min = the least of the "
	    "host's enumeration of every scene and group with a type-id read per item; host = the loaded "
	    "module's ticks as the host's source profiler timed them, summed over the boards, in each run; "
	    "ns/item = scan-min / items; discarded = frames whose boundary fell inside the ticks (quiet/change); "
	    "times in microseconds\n",
	    kBoards, kBackToBack);
	std::printf("%7s  %6s  %9s  %9s  %9s  %9s  %9s  %9s  %9s  %9s  %9s  %9s  %9s  %9s  %7s  %s\n", "items",
		    "frames", "quiet-med", "quiet-mean", "quiet-max", "chg-med", "chg-mean", "chg-1st", "scan-min",
		    "fresh-min", "bare-min", "host-quiet", "host-chg", "ns/item", "placed", "discarded");
	obs_source_t *unplaced = make_unplaced_source();
	for (size_t items : {2500u, 5000u, 10000u})
		run(items, boards, patterns, unplaced);
	obs_source_release(unplaced);

	for (obs_source_t *source : boards) {
		obs_source_remove(source);
		obs_source_release(source);
	}
	for (obs_source_t *source : patterns) {
		obs_source_remove(source);
		obs_source_release(source);
	}
	const long leaks = harness::stop();
	return leaks == 0 ? 0 : 3;
}
