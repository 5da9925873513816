// SPDX-License-Identifier: GPL-2.0-or-later
// The walk of a board's scene and group for the items beneath it, on real
// scenes, groups and show/hide transitions of the host.
#include <obs.h>

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "harness/board.h"
#include "harness/host.h"
#include "harness/scene.h"
#include "render/beneath_scan.h"
#include "render/item_geometry.h"

namespace {

using harness::Board;
using harness::Scene;

obs_sceneitem_t *pattern(const Scene &scene, const char *name, float x = 0.0f, float y = 0.0f)
{
	obs_sceneitem_t *item = scene.adopt(harness::make_pattern(name, 64, 48));
	const vec2 pos = {x, y};
	obs_sceneitem_set_pos(item, &pos);
	return item;
}

// Draw transforms inside groups, crops and filters reach the items while
// the host renders the scene.
void settle(const Scene &scene)
{
	scene.view(64, 64);
}

struct Scan {
	BeneathScan scan;
	Scan(obs_source_t *board, obs_source_t *group)
	{
		scan.board_source = board;
		scan.group_source = group;
	}
	Scan(const Scan &) = delete;
	~Scan() { release_beneath_items(scan.items); }
	void run(const Scene &scene) { scan_beneath(scene.source(), scan); }
	std::vector<std::string> names() const
	{
		std::vector<std::string> out;
		for (const BeneathItem &item : scan.items)
			out.push_back(obs_source_get_name(item.source));
		return out;
	}
};

matrix4 draw_of(obs_sceneitem_t *item)
{
	matrix4 m;
	obs_sceneitem_get_draw_transform(item, &m);
	return m;
}

void expect_matrix(const matrix4 &a, const matrix4 &b)
{
	const float *pa = &a.x.x, *pb = &b.x.x;
	for (int i = 0; i < 16; ++i)
		EXPECT_NEAR(pa[i], pb[i], 1e-4f) << "element " << i;
}

bool is_identity(const matrix4 &m)
{
	matrix4 id;
	matrix4_identity(&id);
	return std::memcmp(&m, &id, sizeof(m)) == 0;
}

using Names = std::vector<std::string>;

// True once nobody holds the source any more. A removed scene lets go of
// its items only when the host gets round to destroying it (a task thread
// of its own, after the canvas has dropped the scene), so give it time.
bool gone(obs_weak_source_t *weak)
{
	for (int i = 0; i < 60; ++i) {
		obs_wait_for_destroy_queue();
		obs_source_t *strong = obs_weak_source_get_source(weak);
		if (!strong)
			return true;
		obs_source_release(strong);
		harness::next_frames(1);
	}
	return false;
}

TEST(BeneathScan, CollectsTheItemsBelowTheBoardBottomFirst)
{
	obs_weak_source_t *weak_a = nullptr;
	{
		Scene s("scan flat");
		obs_sceneitem_t *a = pattern(s, "A", 10, 20);
		pattern(s, "B", 30, 40);
		const Board board("flat board");
		obs_sceneitem_t *board_item = obs_scene_add(s.scene, board.source);
		const vec2 pos = {100.0f, 50.0f};
		obs_sceneitem_set_pos(board_item, &pos);
		obs_sceneitem_set_rot(board_item, 30.0f);
		const obs_sceneitem_crop crop = {10, 20, 30, 40};
		obs_sceneitem_set_crop(board_item, &crop);
		pattern(s, "C");
		settle(s);
		weak_a = obs_source_get_weak_source(obs_sceneitem_get_source(a));

		Scan scan(board.source, nullptr);
		scan.run(s);
		EXPECT_EQ(scan.names(), (Names{"A", "B"}));
		ASSERT_TRUE(scan.scan.found);
		expect_matrix(scan.scan.board_transform, draw_of(board_item));
		EXPECT_EQ(scan.scan.board_crop.left, 10);
		EXPECT_EQ(scan.scan.board_crop.top, 20);
		EXPECT_EQ(scan.scan.board_crop.right, 30);
		EXPECT_EQ(scan.scan.board_crop.bottom, 40);
		EXPECT_FLOAT_EQ(scan.scan.board_scale.x, 1.0f);
		EXPECT_EQ(scan.scan.group_item, nullptr);
		expect_matrix(scan.scan.items[0].transform, draw_of(a));
		EXPECT_FALSE(scan.scan.items[0].via_texture);
		EXPECT_EQ(scan.scan.items[0].transition, nullptr);

		release_beneath_items(scan.scan.items);
		EXPECT_TRUE(scan.scan.items.empty());
	}
	// Nothing the scan took keeps A's source alive.
	EXPECT_TRUE(gone(weak_a));
	obs_weak_source_release(weak_a);
}

TEST(BeneathScan, WalksTheBoardsGroupWithTheGroupTransformApplied)
{
	obs_weak_source_t *weak_group = nullptr;
	{
		Scene s("scan group");
		obs_sceneitem_t *a = pattern(s, "A", 5, 5);
		// F is the group's top-left member, so E and the board sit away from
		// the group's origin.
		obs_sceneitem_t *e = pattern(s, "E", 230, 150);
		const Board board("group board");
		obs_sceneitem_t *board_item = obs_scene_add(s.scene, board.source);
		const vec2 board_pos = {200.0f, 100.0f};
		obs_sceneitem_set_pos(board_item, &board_pos);
		pattern(s, "F", 150, 80);
		pattern(s, "D", 0, 300);
		obs_sceneitem_t *members[] = {e, board_item, obs_scene_find_source(s.scene, "F")};
		obs_sceneitem_t *group = obs_scene_insert_group(s.scene, "G", members, 3);
		ASSERT_NE(group, nullptr);
		obs_sceneitem_set_rot(group, 20.0f);
		const vec2 group_scale = {1.5f, 0.75f};
		obs_sceneitem_set_scale(group, &group_scale);
		settle(s);
		obs_source_t *group_source = obs_sceneitem_get_source(group);
		weak_group = obs_source_get_weak_source(group_source);

		Scan scan(board.source, group_source);
		scan.run(s);
		EXPECT_EQ(scan.names(), (Names{"A", "E"}));
		ASSERT_TRUE(scan.scan.found);
		EXPECT_EQ(scan.scan.group_item, nullptr); // given back after the walk
		expect_matrix(scan.scan.group_transform, draw_of(group));

		const matrix4 group_draw = draw_of(group), e_draw = draw_of(e), board_draw = draw_of(board_item);
		EXPECT_FALSE(is_identity(group_draw));
		EXPECT_FALSE(is_identity(e_draw));
		EXPECT_FALSE(is_identity(board_draw));
		matrix4 expected;
		matrix4_mul(&expected, &e_draw, &group_draw);
		ASSERT_EQ(scan.scan.items.size(), 2u);
		expect_matrix(scan.scan.items[0].transform, draw_of(a));
		expect_matrix(scan.scan.items[1].transform, expected);

		matrix4_mul(&expected, &board_draw, &group_draw);
		expect_matrix(scan.scan.board_transform, expected);
		// The board item's top-left corner lands where the host puts it.
		const vec3 corner = map_local_point(scan.scan.board_transform, 0.0f, 0.0f);
		matrix4 box;
		obs_sceneitem_get_box_transform(board_item, &box);
		matrix4_mul(&box, &box, &group_draw);
		const vec3 box_corner = map_local_point(box, 0.0f, 0.0f);
		EXPECT_NEAR(corner.x, box_corner.x, 1e-3f);
		EXPECT_NEAR(corner.y, box_corner.y, 1e-3f);
	}
	// The group item's reference was given back.
	EXPECT_TRUE(gone(weak_group));
	obs_weak_source_release(weak_group);
}

TEST(BeneathScan, CollectsEverythingWhenTheGroupIsNotInTheScene)
{
	Scene s("scan no group");
	pattern(s, "A");
	const Board board("lost board");
	obs_scene_add(s.scene, board.source);
	pattern(s, "C");
	Scene other("elsewhere");
	obs_sceneitem_t *group = obs_scene_add_group2(other.scene, "lonely group", false);

	Scan scan(board.source, obs_sceneitem_get_source(group));
	scan.run(s);
	// The board is not looked for at scene level when a group is given.
	EXPECT_EQ(scan.names(), (Names{"A", "lost board", "C"}));
	EXPECT_FALSE(scan.scan.found);
	EXPECT_EQ(scan.scan.group_item, nullptr);

	Scan flat(board.source, nullptr);
	flat.run(other);
	EXPECT_FALSE(flat.scan.found);
	EXPECT_EQ(flat.names(), (Names{"lonely group"}));
}

// --- Show and hide transitions ---------------------------------------------

obs_source_t *make_fade(const char *name)
{
	return obs_source_create_private("fade_transition", name, nullptr);
}

const BeneathItem *find(const Scan &scan, const char *name)
{
	for (const BeneathItem &item : scan.scan.items)
		if (std::strcmp(obs_source_get_name(item.source), name) == 0)
			return &item;
	return nullptr;
}

TEST(BeneathScan, HiddenItemsCountOnlyWhileATransitionCarriesThem)
{
	Scene s("scan transitions");
	obs_sceneitem_t *plain_hidden = pattern(s, "plain hidden");
	obs_sceneitem_t *fading_out = pattern(s, "fading out");
	obs_sceneitem_t *faded_out = pattern(s, "faded out");
	obs_sceneitem_t *fading_in = pattern(s, "fading in");
	obs_sceneitem_t *faded_in = pattern(s, "faded in");
	obs_sceneitem_t *empty_side = pattern(s, "empty side");
	const Board board("transition board");
	obs_scene_add(s.scene, board.source);

	obs_sceneitem_set_visible(plain_hidden, false);

	// A transition the host runs: set on the item, started by a change of
	// visibility (obs_sceneitem_set_visible runs obs_sceneitem_do_transition).
	auto with_transition = [](obs_sceneitem_t *item, bool show, uint32_t ms) {
		obs_source_t *fade = make_fade(obs_source_get_name(obs_sceneitem_get_source(item)));
		obs_sceneitem_set_transition(item, show, fade);
		obs_sceneitem_set_transition_duration(item, show, ms);
		obs_source_release(fade);
		return obs_sceneitem_get_transition(item, show);
	};
	obs_source_t *out = with_transition(fading_out, false, 60000);
	with_transition(faded_out, false, 1);
	obs_sceneitem_set_visible(fading_in, false);
	obs_sceneitem_set_visible(faded_in, false);
	obs_source_t *in = with_transition(fading_in, true, 60000);
	with_transition(faded_in, true, 1);
	obs_sceneitem_set_visible(fading_out, false);
	obs_sceneitem_set_visible(faded_out, false);
	obs_sceneitem_set_visible(fading_in, true);
	obs_sceneitem_set_visible(faded_in, true);

	// Hidden, with a hide transition running that carries something else on
	// side A (nothing): the item is not being taken out by it.
	obs_sceneitem_set_visible(empty_side, false);
	obs_source_t *stray = with_transition(empty_side, false, 60000);
	obs_source_t *side_b = harness::make_pattern("side b only", 8, 8);
	obs_transition_set(stray, nullptr);
	obs_transition_start(stray, OBS_TRANSITION_MODE_AUTO, 60000, side_b);
	obs_source_release(side_b);

	// The time is measured against the host's video frame time, so it moves
	// only as frames are made.
	harness::next_frames(3);
	EXPECT_GT(obs_transition_get_time(out), 0.0f);
	EXPECT_LT(obs_transition_get_time(out), 1.0f);
	EXPECT_LT(obs_transition_get_time(in), 1.0f);
	EXPECT_GE(obs_transition_get_time(obs_sceneitem_get_transition(faded_out, false)), 1.0f);

	Scan scan(board.source, nullptr);
	scan.run(s);
	EXPECT_EQ(scan.names(), (Names{"fading out", "fading in", "faded in"}));
	const BeneathItem *item = find(scan, "fading out");
	ASSERT_NE(item, nullptr);
	EXPECT_EQ(item->transition, out);
	EXPECT_STREQ(obs_source_get_name(item->source), "fading out");
	item = find(scan, "fading in");
	ASSERT_NE(item, nullptr);
	EXPECT_EQ(item->transition, in);
	item = find(scan, "faded in");
	ASSERT_NE(item, nullptr);
	EXPECT_EQ(item->transition, nullptr);

	EXPECT_EQ(active_show_hide_transition(fading_out, true), nullptr); // no show transition set
	obs_source_t *again = active_show_hide_transition(fading_out, false);
	EXPECT_EQ(again, out);
	obs_source_release(again);
}

// --- Direct or through a texture -------------------------------------------

TEST(BeneathScan, DrawsThroughATextureOnlyWhenTheItemNeedsIt)
{
	Scene s("scan texture rules");
	pattern(s, "plain");
	obs_sceneitem_t *cropped = pattern(s, "cropped");
	const obs_sceneitem_crop crop = {0, 0, 0, 1};
	obs_sceneitem_set_crop(cropped, &crop);
	obs_sceneitem_t *filtered = pattern(s, "filtered");
	obs_sceneitem_set_scale_filter(filtered, OBS_SCALE_POINT);
	obs_sceneitem_t *srgb_off = pattern(s, "srgb off");
	obs_sceneitem_set_blending_method(srgb_off, OBS_BLEND_METHOD_SRGB_OFF);
	obs_sceneitem_t *blended = pattern(s, "blended");
	obs_sceneitem_set_blending_mode(blended, OBS_BLEND_MULTIPLY);
	obs_sceneitem_t *bounded = pattern(s, "bounded");
	const vec2 bounds = {32.0f, 32.0f};
	obs_sceneitem_set_bounds(bounded, &bounds);
	obs_sceneitem_set_bounds_type(bounded, OBS_BOUNDS_SCALE_OUTER);
	obs_sceneitem_set_bounds_crop(bounded, true);

	Scene nested("nested scene");
	pattern(nested, "inner");
	obs_scene_add(s.scene, nested.source());
	obs_scene_add_group2(s.scene, "plain group", false);
	obs_sceneitem_t *cropped_group = obs_scene_add_group2(s.scene, "cropped group", false);
	obs_sceneitem_set_crop(cropped_group, &crop);

	const Board board("texture board");
	obs_scene_add(s.scene, board.source);
	settle(s);

	Scan scan(board.source, nullptr);
	scan.run(s);
	ASSERT_TRUE(scan.scan.found);
	const std::pair<const char *, bool> expected[] = {
	    {"plain", false},       {"cropped", true},      {"filtered", true},
	    {"srgb off", true},     {"blended", true},      {"bounded", true},
	    {"nested scene", true}, {"plain group", false}, {"cropped group", true},
	};
	ASSERT_EQ(scan.scan.items.size(), std::size(expected));
	for (size_t i = 0; i < std::size(expected); ++i) {
		const BeneathItem &item = scan.scan.items[i];
		EXPECT_STREQ(obs_source_get_name(item.source), expected[i].first);
		EXPECT_EQ(item.via_texture, expected[i].second) << expected[i].first;
	}
	// The record carries the item's settings and its crop-to-bounds crop.
	const BeneathItem &bounded_item = scan.scan.items[5];
	// 64 x 48 at 2/3 is 42.7 wide in a 32 wide box: 16 source pixels over.
	EXPECT_EQ(bounded_item.crop.left, 8);
	EXPECT_EQ(bounded_item.crop.right, 8);
	EXPECT_EQ(scan.scan.items[2].scale_filter, OBS_SCALE_POINT);
	EXPECT_EQ(scan.scan.items[3].blending_method, OBS_BLEND_METHOD_SRGB_OFF);
	EXPECT_EQ(scan.scan.items[4].blending_mode, OBS_BLEND_MULTIPLY);
	EXPECT_EQ(scan.scan.items[1].crop.bottom, 1);
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	options.before_module_load = [] {
		if (!harness::load_stock_module("obs-transitions"))
			std::fprintf(stderr, "cannot load obs-transitions\n");
	};
	return harness::run_tests(argc, argv, options);
}
