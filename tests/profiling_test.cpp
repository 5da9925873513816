// SPDX-License-Identifier: GPL-2.0-or-later
// The profiling switch read at module load and the timing report lines.
// One process per value of MISTPANE_PROFILE; the first argument names the
// case ("on_1", "off_empty", "off_unset", ...), "report" also runs the
// five-second report windows.
#include <obs.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "board/blur_board.h"
#include "harness/board.h"
#include "harness/host.h"
#include "host/source_profiler.h"

namespace {

bool expect_on = false;
std::string expected_value; // the variable's value this case is run with
bool expect_unset = false;
bool run_report = false;

// Calls of the host profiler made by the loaded module.
struct ProfilerCalls {
	std::vector<bool> enable, gpu_enable;
	int enable_before_loaded = 0, gpu_enable_before_loaded = 0;
	int enable_first = 0; // enable came before gpu_enable
	std::map<std::string, int> fills; // per board name
};
std::mutex calls_mutex;
ProfilerCalls calls;

bool loaded_line_seen()
{
	return !harness::log_matching("plugin loaded successfully").empty();
}

bool from_module(const void *return_address)
{
	Dl_info info = {};
	return dladdr(return_address, &info) && info.dli_fname && std::strstr(info.dli_fname, "mistpane.so");
}

template <typename F>
F next(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

// Interposers: the test binary exports them, so the module binds to them;
// they record the module's calls and forward to libobs (the harness switches
// the profiler off itself before shutdown).
extern "C" {

void source_profiler_enable(bool enable)
{
	static auto real = next<void (*)(bool)>("source_profiler_enable");
	if (from_module(__builtin_return_address(0))) {
		std::lock_guard<std::mutex> lock(calls_mutex);
		calls.enable.push_back(enable);
		calls.enable_before_loaded += !loaded_line_seen();
		calls.enable_first += calls.gpu_enable.empty();
	}
	real(enable);
}

void source_profiler_gpu_enable(bool enable)
{
	static auto real = next<void (*)(bool)>("source_profiler_gpu_enable");
	if (from_module(__builtin_return_address(0))) {
		std::lock_guard<std::mutex> lock(calls_mutex);
		calls.gpu_enable.push_back(enable);
		calls.gpu_enable_before_loaded += !loaded_line_seen();
	}
	real(enable);
}

// Boards named "prof fixed" get known figures, "prof none" no result.
bool source_profiler_fill_result(obs_source_t *source, profiler_result_t *result)
{
	static auto real = next<bool (*)(obs_source_t *, profiler_result_t *)>("source_profiler_fill_result");
	if (!from_module(__builtin_return_address(0)))
		return real(source, result);
	const char *name = obs_source_get_name(source);
	const std::string board = name ? name : "";
	{
		std::lock_guard<std::mutex> lock(calls_mutex);
		++calls.fills[board];
	}
	if (board == "prof none")
		return false;
	if (board == "prof fixed") {
		*result = {};
		result->tick_avg = 1234567;
		result->tick_max = 2500000;
		result->render_avg = 3000001;
		result->render_max = 4000000;
		result->render_gpu_avg = 500000;
		result->render_gpu_max = 600000;
		result->render_sum = 12345678901ull;
		result->render_gpu_sum = 800000;
		return true;
	}
	return real(source, result);
}

} // extern "C"

namespace {

ProfilerCalls recorded()
{
	std::lock_guard<std::mutex> lock(calls_mutex);
	return calls;
}

TEST(ProfilingSwitch, TheEnvironmentIsAsThisCaseSaysIt)
{
	const char *value = std::getenv("MISTPANE_PROFILE");
	if (expect_unset) {
		EXPECT_EQ(value, nullptr);
	} else {
		ASSERT_NE(value, nullptr);
		EXPECT_EQ(std::string(value), expected_value);
	}
}

TEST(ProfilingSwitch, FollowsTheVariableAtModuleLoad)
{
	const ProfilerCalls seen = recorded();
	if (expect_on) {
		EXPECT_EQ(seen.enable, std::vector<bool>{true});
		EXPECT_EQ(seen.gpu_enable, std::vector<bool>{true});
		EXPECT_EQ(seen.enable_first, 1);
		EXPECT_EQ(seen.enable_before_loaded, 1);
		EXPECT_EQ(seen.gpu_enable_before_loaded, 1);
	} else {
		EXPECT_TRUE(seen.enable.empty());
		EXPECT_TRUE(seen.gpu_enable.empty());
	}
	EXPECT_EQ(harness::log_matching("plugin loaded successfully").size(), 1u);
}

using harness::Board;

using Clock = std::chrono::steady_clock;

// Profile lines per board name with the seconds since `start` at which the
// test saw them, watched until `seconds` have passed or `enough` lines of
// each named board are in.
struct Seen {
	std::string text;
	int level;
	double at;
};
std::map<std::string, std::vector<Seen>> watch_profile_lines(Clock::time_point start, double seconds,
							     const std::vector<std::string> &names, size_t enough)
{
	std::map<std::string, std::vector<Seen>> lines;
	size_t taken = 0;
	for (;;) {
		const double now = std::chrono::duration<double>(Clock::now() - start).count();
		std::vector<harness::LogLine> all = harness::log_matching("[mistpane] profile '");
		for (; taken < all.size(); ++taken) {
			const std::string &text = all[taken].text;
			const size_t open = text.find('\'') + 1;
			const std::string name = text.substr(open, text.find('\'', open) - open);
			lines[name].push_back({text, all[taken].level, now});
		}
		bool done = true;
		for (const std::string &name : names) {
			auto found = lines.find(name);
			done = done && found != lines.end() && found->second.size() >= enough;
		}
		if (done || now > seconds)
			return lines;
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
}

TEST(ProfilingReport, WritesOneLinePerBoardAboutEveryFiveSeconds)
{
	if (!run_report || !expect_on)
		GTEST_SKIP() << "report windows run in the on_1 report case";

	harness::clear_log();
	const Clock::time_point start = Clock::now();
	Board plain("prof plain"), copy("prof copy"), redraw("prof redraw"), fixed("prof fixed"), none("prof none");
	// In no scene they are ticked but never drawn, so nothing overwrites
	// the capture method set here.
	harness::board_of(copy.source)->capture_method.store(CaptureMethod::Copy);
	harness::board_of(redraw.source)->capture_method.store(CaptureMethod::Redraw);

	const std::vector<std::string> names = {"prof plain", "prof copy", "prof redraw", "prof fixed"};
	auto lines = watch_profile_lines(start, 12.5, names, 2);

	const std::string figure = R"(\d+\.\d{3})";
	for (const std::string &name : names) {
		const std::vector<Seen> &mine = lines[name];
		ASSERT_GE(mine.size(), 2u) << name;
		// The first window ends about 5 s after the board was created, the
		// next 5 s later.
		EXPECT_GT(mine[0].at, 4.0) << name;
		EXPECT_LT(mine[0].at, 7.5) << name;
		EXPECT_GT(mine[1].at - mine[0].at, 4.0) << name;
		EXPECT_LT(mine[1].at - mine[0].at, 6.5) << name;
		EXPECT_EQ(mine[0].level, LOG_INFO);
	}
	const std::string pattern_head = R"(\[mistpane\] profile ')";
	const std::string pattern_body = R"(': per frame cpu )" + figure + " ms gpu " + figure +
					 R"( ms; per draw cpu )" + figure + R"( \(max )" + figure + R"(\) gpu )" +
					 figure + R"( \(max )" + figure + R"(\); )";
	const std::string pattern_tail = " tick " + figure + R"( ms \(max )" + figure + R"(\))";
	EXPECT_TRUE(std::regex_match(lines["prof plain"][0].text,
				     std::regex(pattern_head + "prof plain" + pattern_body + "-" + pattern_tail)))
	    << lines["prof plain"][0].text;
	EXPECT_TRUE(std::regex_match(lines["prof copy"][0].text,
				     std::regex(pattern_head + "prof copy" + pattern_body + "copy" + pattern_tail)))
	    << lines["prof copy"][0].text;
	EXPECT_TRUE(std::regex_match(lines["prof redraw"][0].text,
				     std::regex(pattern_head + "prof redraw" + pattern_body + "redraw" + pattern_tail)))
	    << lines["prof redraw"][0].text;
	EXPECT_EQ(lines["prof fixed"][0].text,
		  "[mistpane] profile 'prof fixed': per frame cpu 12345.679 ms gpu 0.800 ms; per draw cpu 3.000 (max "
		  "4.000) gpu 0.500 (max 0.600); - tick 1.235 ms (max 2.500)");

	// Without a result from the host no line, but it was asked each window.
	EXPECT_TRUE(lines["prof none"].empty());
	const ProfilerCalls seen = recorded();
	EXPECT_GE(seen.fills.count("prof none") ? seen.fills.at("prof none") : 0, 2);
	EXPECT_LE(seen.fills.at("prof plain"), 3);
}

TEST(ProfilingReport, StaysSilentAndNeverAsksTheProfilerWhenOff)
{
	if (!run_report || expect_on)
		GTEST_SKIP() << "the silent window runs in the off_unset report case";

	harness::clear_log();
	const Clock::time_point start = Clock::now();
	Board first("prof quiet"), second("prof quieter");
	// A little past one window of ticks.
	auto lines = watch_profile_lines(start, 5.6, {"never"}, 1);
	EXPECT_TRUE(lines.empty());
	const ProfilerCalls seen = recorded();
	EXPECT_TRUE(seen.enable.empty());
	EXPECT_TRUE(seen.gpu_enable.empty());
	EXPECT_TRUE(seen.fills.empty());
}

} // namespace

int main(int argc, char **argv)
{
	for (int i = 1; i < argc; ++i) {
		const std::string arg = argv[i];
		if (arg == "report") {
			run_report = true;
		} else if (arg.rfind("on_", 0) == 0 || arg.rfind("off_", 0) == 0) {
			expect_on = arg[1] == 'n';
			const std::string value = arg.substr(arg.find('_') + 1);
			expect_unset = value == "unset";
			expected_value = value == "empty" || expect_unset ? "" : value;
		}
	}
	return harness::run_tests(argc, argv);
}
