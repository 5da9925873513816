// SPDX-License-Identifier: GPL-2.0-or-later
#include "harness/attack.h"

#include <obs.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <set>

#include "harness/pattern.h"

namespace harness {

namespace {

// The picture (every tile's text) and the boards over it, on the main
// output.
class AttackScene {
      public:
	AttackScene(const std::string &board_json, const AttackLayout &layout) : layout_(layout)
	{
		const HostOptions &o = options();
		scene_ = obs_scene_create("attack");
		obs_data_t *settings = obs_data_create();
		obs_data_set_int(settings, "width", o.width);
		obs_data_set_int(settings, "height", o.height);
		obs_data_set_string(settings, "kind", "labels");
		text_ = obs_source_create(kPatternTypeId, "attack text", settings, nullptr);
		obs_data_release(settings);
		obs_scene_add(scene_, text_);
		const int boards = layout.board_per_tile ? layout.columns * layout.rows : 1;
		for (int i = 0; i < boards; ++i)
			add_board(board_json, i);
		add_serial_window();
		obs_set_output_source(0, obs_scene_get_source(scene_));
		settled_frame(4);
	}
	~AttackScene()
	{
		obs_set_output_source(0, nullptr);
		obs_source_remove(obs_scene_get_source(scene_));
		obs_scene_release(scene_);
		for (obs_source_t *board : boards_)
			obs_source_release(board);
		obs_source_release(text_);
		obs_wait_for_destroy_queue();
	}
	AttackScene(const AttackScene &) = delete;
	AttackScene &operator=(const AttackScene &) = delete;

	int tiles() const { return layout_.columns * layout_.rows; }

	// The frame with texts[i] in tile i, moved `step` pixels right.
	Image frame(const std::vector<std::string> &texts, int step)
	{
		std::string lines;
		char line[64];
		for (size_t i = 0; i < texts.size(); ++i) {
			if (texts[i].empty())
				continue;
			std::snprintf(line, sizeof(line), "%d %d %s\n", tile_x(int(i)) + layout_.text_x + step,
				      tile_y(int(i)) + layout_.text_y, texts[i].c_str());
			lines += line;
		}
		serial_ = (serial_ + 1) % 10000;
		std::snprintf(line, sizeof(line), "%d %d %04d\n", kSerialX, kSerialY, serial_);
		lines += line;
		obs_data_t *settings = obs_data_create();
		obs_data_set_string(settings, "labels", lines.c_str());
		obs_source_update(text_, settings);
		obs_data_release(settings);
		return frame_with_serial();
	}

	// The compared pixels of tile i, RGB.
	std::vector<uint8_t> crop(const Image &frame, int i) const
	{
		std::vector<uint8_t> out;
		const Area &a = layout_.compare;
		const size_t size = size_t(a.x1 - a.x0) * size_t(a.y1 - a.y0) * 3;
		if (frame.empty())
			return std::vector<uint8_t>(size, 0);
		out.reserve(size);
		for (int y = a.y0; y < a.y1; ++y)
			for (int x = a.x0; x < a.x1; ++x) {
				const uint8_t *p = frame.at(uint32_t(tile_x(i) + x), uint32_t(tile_y(i) + y));
				out.insert(out.end(), p, p + 3);
			}
		return out;
	}

      private:
	// A serial number in the canvas's top right corner, out of every
	// board's reach, shown once more above the boards (the text source
	// cropped to it). A frame that shows the serial was rendered with the
	// texts it came with: a frame's time says less, since a host that lags
	// hands out an older frame again under the times it skipped.
	static constexpr int kSerialX = 1200, kSerialY = 4;
	static constexpr uint32_t kSerialW = 40, kSerialH = 11;

	void add_serial_window()
	{
		const HostOptions &o = options();
		obs_sceneitem_t *item = obs_scene_add(scene_, text_);
		obs_sceneitem_crop crop = {kSerialX, kSerialY, int(o.width) - kSerialX - int(kSerialW),
					   int(o.height) - kSerialY - int(kSerialH)};
		obs_sceneitem_set_crop(item, &crop);
		vec2 pos;
		vec2_set(&pos, float(kSerialX), float(kSerialY));
		obs_sceneitem_set_pos(item, &pos);
	}

	Image frame_with_serial() const
	{
		char line[32];
		std::snprintf(line, sizeof(line), "0 0 %04d", serial_);
		const std::vector<uint8_t> want = label_pixels(kSerialW, kSerialH, line);
		for (int tries = 0; tries < 300; ++tries) {
			Image frame = next_frames(1);
			bool same = !frame.empty();
			for (uint32_t y = 0; same && y < kSerialH; ++y)
				for (uint32_t x = 0; same && x < kSerialW; ++x)
					same = std::abs(int(frame.at(kSerialX + x, kSerialY + y)[1]) -
							int(want[(y * kSerialW + x) * 4 + 1])) <= 2;
			if (same)
				return frame;
		}
		std::fprintf(stderr, "attack: no frame showed serial %04d\n", serial_);
		return {};
	}

	int tile_x(int i) const { return (i % layout_.columns) * layout_.pitch_x; }
	int tile_y(int i) const { return (i / layout_.columns) * layout_.pitch_y; }

	void add_board(const std::string &board_json, int i)
	{
		const Area &b = layout_.board;
		const std::string json = "{\"width\": " + std::to_string(b.x1 - b.x0) +
					 ", \"height\": " + std::to_string(b.y1 - b.y0) + ", \"fade_seconds\": 0" +
					 (board_json.empty() ? "" : ", " + board_json) + "}";
		// One source per tile: a board shown twice draws its hatching.
		obs_source_t *board = make_board(("attack board " + std::to_string(i)).c_str(), json.c_str());
		obs_sceneitem_t *item = obs_scene_add(scene_, board);
		vec2 pos;
		vec2_set(&pos, float(tile_x(i) + b.x0), float(tile_y(i) + b.y0));
		obs_sceneitem_set_pos(item, &pos);
		boards_.push_back(board);
	}

	AttackLayout layout_;
	obs_scene_t *scene_ = nullptr;
	obs_source_t *text_ = nullptr;
	std::vector<obs_source_t *> boards_;
	int serial_ = 0;
};

int64_t squared_distance(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
	int64_t sum = 0;
	for (size_t i = 0; i < a.size(); ++i) {
		const int d = int(a[i]) - int(b[i]);
		sum += d * d;
	}
	return sum;
}

// frames[secret][step][tile]: each secret in every tile at once, so that
// a candidate is compared with the secret drawn at the same place (the
// GPU's arithmetic differs by a level here and there from one place to
// another, an attacker draws at the very place).
using SecretFrames = std::vector<std::vector<std::vector<std::vector<uint8_t>>>>;

SecretFrames secret_frames(AttackScene &scene, const std::vector<int> &secrets, int steps)
{
	const int tiles = scene.tiles();
	SecretFrames frames(secrets.size());
	for (size_t t = 0; t < secrets.size(); ++t)
		for (int s = 0; s < steps; ++s) {
			const std::vector<std::string> texts(static_cast<size_t>(tiles), pin_text(secrets[t]));
			const Image frame = scene.frame(texts, s);
			frames[t].emplace_back();
			for (int i = 0; i < tiles; ++i)
				frames[t].back().push_back(scene.crop(frame, i));
		}
	return frames;
}

} // namespace

std::string pin_text(int pin)
{
	char text[8];
	std::snprintf(text, sizeof(text), "%04d", pin % 10000);
	return text;
}

std::vector<int> candidate_pins(const std::vector<int> &secrets, size_t n)
{
	std::vector<int> out;
	std::set<int> seen;
	auto add = [&](int pin) {
		if (out.size() < n && seen.insert(pin).second)
			out.push_back(pin);
	};
	for (int pin : secrets)
		add(pin);
	for (int pin : secrets)
		for (int digit = 1; digit < 10000; digit *= 10)
			for (int v = 0; v < 10; ++v)
				add(pin - (pin / digit % 10) * digit + v * digit);
	for (uint32_t i = 0; out.size() < n && i < 1000000; ++i)
		add(int(noise_hash(i) % 10000));
	return out;
}

AttackLayout board_layout(uint32_t canvas_width, uint32_t canvas_height)
{
	// 192 = 8 cells of 24 and 3 capture blocks of 64; 120 = 5 cells and
	// 15 texels of the smallest level used. What a board reads (its cells
	// and the low-pass's reach, 73 pixels at 24-pixel cells, 38 for a blur
	// of radius 20) ends 90 pixels short of the next tile's text.
	AttackLayout l;
	l.pitch_x = 192;
	l.pitch_y = 120;
	l.columns = int(canvas_width) / l.pitch_x;
	l.rows = int(canvas_height) / l.pitch_y;
	l.board = {48, 48, 144, 96};
	l.compare = l.board;
	// Four letters are 38 pixels wide, 53 after 15 steps: 20 and 23
	// pixels of board either side, 18 above and 19 below.
	l.text_x = 68;
	l.text_y = 66;
	return l;
}

AttackLayout emergency_layout(uint32_t canvas_width, uint32_t canvas_height)
{
	// Cells of 43.2 pixels on 720 rows (6 %), low-passed with a sigma of
	// 21 at texels of 8: 216 is five cells and 27 texels. The text's
	// reach (3.5 sigma) stays inside its tile.
	AttackLayout l;
	l.pitch_x = 216;
	l.pitch_y = 216;
	l.columns = int(canvas_width) / l.pitch_x;
	l.rows = int(canvas_height) / l.pitch_y;
	l.board_per_tile = false;
	l.board = {0, 0, 96, 48};
	l.compare = {0, 0, 216, 216};
	l.text_x = 81;
	l.text_y = 102;
	return l;
}

Standing standing(const std::vector<int64_t> &distances, size_t truth)
{
	const int64_t own = distances[truth];
	size_t closer = 0, tied = 0;
	for (int64_t d : distances) {
		closer += d < own;
		tied += d == own;
	}
	Standing s;
	s.top1 = closer == 0 ? 1.0 / double(tied) : 0.0;
	s.rank = double(closer) + (double(tied) + 1.0) / 2.0;
	return s;
}

Standing summary(const std::vector<Standing> &standings)
{
	Standing s;
	if (standings.empty())
		return s;
	std::vector<double> ranks;
	for (const Standing &one : standings) {
		s.top1 += one.top1 / double(standings.size());
		ranks.push_back(one.rank);
	}
	std::sort(ranks.begin(), ranks.end());
	const size_t m = ranks.size() / 2;
	s.rank = ranks.size() % 2 ? ranks[m] : (ranks[m - 1] + ranks[m]) / 2.0;
	return s;
}

AttackOutcome run_attack(const std::string &board_json, const AttackLayout &layout, const std::vector<int> &secrets,
			 const std::vector<int> &candidates, int steps)
{
	AttackScene scene(board_json, layout);
	const size_t tiles = size_t(scene.tiles());
	const auto truth = secret_frames(scene, secrets, steps);
	std::vector<std::vector<int64_t>> still(secrets.size(), std::vector<int64_t>(candidates.size())),
	    moving = still;
	for (size_t first = 0; first < candidates.size(); first += tiles) {
		const size_t count = std::min(tiles, candidates.size() - first);
		std::vector<std::string> texts;
		for (size_t i = 0; i < count; ++i)
			texts.push_back(pin_text(candidates[first + i]));
		for (int s = 0; s < steps; ++s) {
			const Image frame = scene.frame(texts, s);
			for (size_t i = 0; i < count; ++i) {
				const std::vector<uint8_t> seen = scene.crop(frame, int(i));
				for (size_t t = 0; t < secrets.size(); ++t) {
					const int64_t d = squared_distance(seen, truth[t][size_t(s)][i]);
					still[t][first + i] += s == 0 ? d : 0;
					moving[t][first + i] += d;
				}
			}
		}
	}
	AttackOutcome out;
	out.candidates = candidates.size();
	for (size_t t = 0; t < secrets.size(); ++t) {
		const size_t at =
		    size_t(std::find(candidates.begin(), candidates.end(), secrets[t]) - candidates.begin());
		if (at == candidates.size())
			continue;
		out.still.push_back(standing(still[t], at));
		out.moving.push_back(standing(moving[t], at));
		out.own_distance = std::max(out.own_distance, moving[t][at]);
	}
	return out;
}

} // namespace harness
