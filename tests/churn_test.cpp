// SPDX-License-Identifier: GPL-2.0-or-later
// 600 frames of boards created, moved, resized, switched between modes and
// destroyed, in the program output and in views of our own: no graphics
// error reaches the log, every host reference the module took is given
// back once the boards are gone, and (checked by the harness) nothing leaks.
#include <random>
#include <vector>

#include "harness/frame_clock.h"
#include "harness/render_util.h"

namespace {

struct Live {
	obs_source_t *board;
	std::vector<obs_sceneitem_t *> items;
};

void remove_board(Live &live)
{
	for (obs_sceneitem_t *item : live.items)
		obs_sceneitem_remove(item);
	obs_source_release(live.board);
}

TEST(Churn, SixHundredFramesOfBoardsComingAndGoing)
{
	rt::Stage stage("", "detail");
	harness::clear_log();
	std::mt19937 random(20240611);
	const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
	std::vector<Live> boards;
	int created = 0, destroyed = 0, views = 0;

	for (int frame = 0; frame < 600; ++frame) {
		const int action = pick(0, 9);
		if ((action == 0 || boards.empty()) && boards.size() < 5) {
			const std::string name = "churn " + std::to_string(created++);
			Live live;
			live.board = harness::make_board(name.c_str(), "{}");
			live.items.push_back(obs_scene_add(stage.scene, live.board));
			boards.push_back(live);
		} else if (action == 1 && !boards.empty()) {
			const size_t i = size_t(pick(0, int(boards.size()) - 1));
			remove_board(boards[i]);
			boards.erase(boards.begin() + long(i));
			++destroyed;
		} else if (!boards.empty()) {
			Live &live = boards[size_t(pick(0, int(boards.size()) - 1))];
			switch (action) {
			case 2: {
				vec2 pos;
				vec2_set(&pos, float(pick(-700, 900)), float(pick(-400, 600)));
				obs_sceneitem_set_pos(live.items[0], &pos);
				break;
			}
			case 3:
				rt::update_source(live.board, "{\"width\": " + std::to_string(pick(1, 900)) +
								  ", \"height\": " + std::to_string(pick(1, 500)) +
								  "}");
				break;
			case 4: {
				static const char *modes[] = {
				    R"({"mode": "blur", "blur_radius": 3, "shape": "rect", "feather": 0})",
				    R"({"mode": "blur", "blur_radius": 500, "shape": "ellipse", "feather": 40})",
				    R"({"mode": "mosaic", "mosaic_size": 1, "emergency": false})",
				    R"({"mode": "mosaic", "mosaic_size": 500, "shape": "rect", "feather": 1000})",
				    R"({"emergency": true, "emergency_size": 0.5})",
				    R"({"emergency": false, "enabled": false, "fade_seconds": 0.2})",
				    R"({"enabled": true, "strength": 37, "blur_radius": 0})",
				    R"({"force_redraw": true, "mode": "mosaic"})",
				    R"({"force_redraw": false, "mode": "blur", "blur_radius": 64})"};
				rt::update_source(live.board, modes[pick(0, 8)]);
				break;
			}
			case 5:
				obs_sceneitem_set_rot(live.items[0], float(pick(-360, 360)));
				break;
			case 6: {
				vec2 scale;
				vec2_set(&scale, pick(-30, 30) / 10.0f, pick(-30, 30) / 10.0f);
				obs_sceneitem_set_scale(live.items[0], &scale);
				break;
			}
			case 7: {
				obs_sceneitem_crop crop = {pick(0, 200), pick(0, 120), pick(0, 200), pick(0, 120)};
				obs_sceneitem_set_crop(live.items[0], &crop);
				break;
			}
			case 8:
				// A second item: shared for a while.
				if (pick(0, 1))
					live.items.push_back(obs_scene_add(stage.scene, live.board));
				else
					obs_sceneitem_set_visible(live.items[0], !obs_sceneitem_visible(live.items[0]));
				break;
			default: {
				const float scale = pick(3, 15) / 10.0f;
				harness::in_own_frame([&] {
					return harness::render_view(stage.scene_source(), 320, 180, scale,
								    float(pick(-50, 50)), float(pick(-50, 50)));
				});
				++views;
				break;
			}
			}
		}
		harness::next_frames(1);
	}
	for (Live &live : boards)
		remove_board(live);
	harness::settled_frame(2);

	// Every reference the module took while boards came and went is back.
	const harness::ReferenceBalance balance = harness::reference_balance();
	EXPECT_EQ(balance.boards, 0);
	EXPECT_EQ(balance.outstanding, 0) << balance.report;

	EXPECT_GT(created, 20);
	EXPECT_GT(destroyed, 10);
	EXPECT_GT(views, 20);
	for (const harness::LogLine &line : harness::log_lines()) {
		EXPECT_GT(line.level, LOG_ERROR) << line.text;
		EXPECT_EQ(line.text.find("glGetError"), std::string::npos) << line.text;
	}
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	options.fps = 60;
	return harness::run_tests(argc, argv, options);
}
