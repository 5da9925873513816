// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Which short secret lies beneath a board, as someone who can list what it
// could be finds it: every candidate is drawn in the same font at the same
// place, under the same board, by the same host and module (anyone can
// install them), and the candidate whose frames lie closest to the
// stream's is taken. Frames are read from the host's output.

#include <cstdint>
#include <string>
#include <vector>

#include "harness/leak.h"

namespace harness {

// "0815" for 815.
std::string pin_text(int pin);

// n distinct four-digit PINs: the secrets first, then every PIN one digit
// away from a secret (the likeliest to be taken for it), then others drawn
// by a fixed hash.
std::vector<int> candidate_pins(const std::vector<int> &secrets, size_t n);

// Tiles in a grid from the canvas origin, each with text (and a board, or
// under one board's emergency cover). Their pitch keeps what a board reads
// clear of the next tile's text, so every tile gives what one text alone
// would, and keeps every tile at the same offset from the mosaic's cells
// (anchored at the canvas origin) and the capture's texels.
struct AttackLayout {
	int pitch_x = 0, pitch_y = 0;
	int columns = 0, rows = 0;
	bool board_per_tile = true; // else one board (its emergency cover)
	Area board; // in a tile
	Area compare; // in a tile: the pixels compared
	int text_x = 0, text_y = 0; // in a tile, at the first frame
};

// A 96 x 48 board in each 192 x 120 tile, compared over the board.
AttackLayout board_layout(uint32_t canvas_width, uint32_t canvas_height);
// 216 x 216 tiles (five cells of the default emergency cover on 720 rows,
// and a multiple of its low-pass's texels), compared whole.
AttackLayout emergency_layout(uint32_t canvas_width, uint32_t canvas_height);

// Where the truth stands among the candidates' distances (ties broken at
// random): the chance that it comes first, and its expected rank (1 best).
struct Standing {
	double top1 = 0.0;
	double rank = 0.0;
};
Standing standing(const std::vector<int64_t> &distances, size_t truth);

struct AttackOutcome {
	size_t candidates = 0;
	std::vector<Standing> still, moving; // one per secret
	// Largest distance of a secret's frames from its own candidate's, drawn
	// at the same place among other texts (0: no tile reaches into the next).
	int64_t own_distance = 0;
};

// In the real host, on the main output: the secrets and the candidates
// (which hold every secret) under a board of these settings, `steps`
// frames each, the text moved one pixel right a frame. Distance: the sum
// of squared differences of RGB over the compared pixels; still: the first
// frame, moving: all frames summed.
AttackOutcome run_attack(const std::string &board_json, const AttackLayout &layout, const std::vector<int> &secrets,
			 const std::vector<int> &candidates, int steps);

// Mean top-1 and median rank over the secrets.
Standing summary(const std::vector<Standing> &standings);

} // namespace harness
