// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Holds the host's video frame time still for code that asks for it
// (obs_get_video_frame_time), so that views drawn from the test thread
// count as one video frame of their own. Linked into a test binary only
// when used.

#include <obs.h>

#include <cstdint>
#include <utility>

namespace harness {

// Every later obs_get_video_frame_time() returns time until thaw.
void freeze_frame_time(uint64_t time);
void thaw_frame_time();

// A frame time no host frame has had, different on every call.
uint64_t unique_frame_time();

// Runs draw with the graphics context held and the frame time frozen at
// time: the host's own views cannot draw in between, so everything draw
// renders belongs to that one frame.
template <typename Draw>
auto in_frame(uint64_t time, Draw &&draw)
{
	obs_enter_graphics();
	freeze_frame_time(time);
	auto result = std::forward<Draw>(draw)();
	thaw_frame_time();
	obs_leave_graphics();
	return result;
}

template <typename Draw>
auto in_own_frame(Draw &&draw)
{
	return in_frame(unique_frame_time(), std::forward<Draw>(draw));
}

} // namespace harness
