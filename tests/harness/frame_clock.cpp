// SPDX-License-Identifier: GPL-2.0-or-later
#include "harness/frame_clock.h"

#include <obs.h>

#include <atomic>
#include <dlfcn.h>

namespace {
std::atomic<bool> frozen{false};
std::atomic<uint64_t> frozen_time{0};
} // namespace

// Interposes the host's function: test binaries export their symbols, so
// the loaded module binds to this one.
extern "C" uint64_t obs_get_video_frame_time(void)
{
	if (frozen.load())
		return frozen_time.load();
	static auto real = reinterpret_cast<uint64_t (*)(void)>(dlsym(RTLD_NEXT, "obs_get_video_frame_time"));
	return real ? real() : 0;
}

namespace harness {

void freeze_frame_time(uint64_t time)
{
	frozen_time.store(time);
	frozen.store(true);
}

void thaw_frame_time()
{
	frozen.store(false);
}

uint64_t unique_frame_time()
{
	// Far beyond any real frame time (nanoseconds since boot).
	static std::atomic<uint64_t> next{1ull << 60};
	return ++next;
}

} // namespace harness
