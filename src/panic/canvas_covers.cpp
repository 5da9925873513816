// SPDX-License-Identifier: GPL-2.0-or-later
#include "panic/canvas_covers.h"

#include <obs.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "board/blur_board.h"
#include "board/settings.h"
#include "host/canvases.h"
#include "host/host_refs.h"
#include "host/log.h"
#include "panic/look.h"

namespace {

// OBS Studio's frontend uses channels 0 (the program) to 6 (audio devices).
constexpr uint32_t kLowestChannel = 7;

struct CanvasCover {
	obs_canvas_t *key = nullptr; // never used without a reference
	WeakCanvasRef canvas;
	uint32_t channel = MAX_CHANNELS;
	SourceRef board;
};

// Held while covers change; no canvas reference is given back under it, as
// a canvas's last release emits canvas_destroy, which takes it too.
std::mutex covers_mutex;
bool covering = false;
PanicLook look; // what every cover made from now on shows
std::vector<CanvasCover> covers;
bool watching = false;

// The main canvas's cover, for its channel_change handler, which runs with
// the canvas's channel lock held and so must not wait for covers_mutex.
std::atomic<obs_source_t *> main_board{nullptr};
std::atomic<uint32_t> main_channel{MAX_CHANNELS};

bool holds(obs_canvas_t *canvas, uint32_t channel, obs_source_t *source)
{
	SourceRef held(refs::canvas_get_channel(canvas, channel));
	return held == source;
}

// The highest channel that holds nothing; MAX_CHANNELS when none does.
uint32_t free_channel(obs_canvas_t *canvas)
{
	for (uint32_t channel = MAX_CHANNELS; channel-- > kLowestChannel;)
		if (holds(canvas, channel, nullptr))
			return channel;
	return MAX_CHANNELS;
}

SourceRef make_cover_board(obs_canvas_t *canvas)
{
	obs_video_info ovi{};
	if (!obs_canvas_get_video_info(canvas, &ovi))
		obs_get_video_info(&ovi);
	DataRef settings(refs::data_create());
	panic_board_settings(settings, look, ovi.base_width, ovi.base_height);
	SourceRef board(refs::create_private_source(kBoardTypeId, "MistPane panic cover", settings));
	if (auto *record = board ? static_cast<BlurBoard *>(obs_obj_get_data(board)) : nullptr)
		record->panic_cover.store(true);
	return board;
}

const char *canvas_name(obs_canvas_t *canvas)
{
	const char *name = obs_canvas_get_name(canvas);
	return name ? name : "";
}

bool set_on_free_channel(obs_canvas_t *canvas, CanvasCover &cover)
{
	if (cover.channel >= MAX_CHANNELS || !holds(canvas, cover.channel, nullptr))
		cover.channel = free_channel(canvas);
	if (cover.channel >= MAX_CHANNELS) {
		log_message(LOG_WARNING, "panic cover: canvas '%s' has no free output channel; it is not covered",
			    canvas_name(canvas));
		return false;
	}
	if (obs_canvas_get_flags(canvas) & MAIN) {
		main_channel.store(cover.channel);
		main_board.store(cover.board);
	}
	obs_canvas_set_channel(canvas, cover.channel, cover.board);
	log_message(LOG_INFO, "panic cover: output channel %u of canvas '%s'", cover.channel, canvas_name(canvas));
	return true;
}

// Called with covers_mutex held.
void cover_canvas(obs_canvas_t *canvas, std::vector<CanvasRef> &to_release)
{
	for (CanvasCover &cover : covers) {
		if (cover.key != canvas)
			continue;
		CanvasRef same(refs::weak_get_canvas(cover.canvas));
		const bool alive = same == canvas;
		to_release.push_back(std::move(same));
		if (!alive)
			continue; // another canvas at a freed one's address
		if (cover.channel >= MAX_CHANNELS || !holds(canvas, cover.channel, cover.board))
			set_on_free_channel(canvas, cover);
		return;
	}
	CanvasCover cover;
	cover.key = canvas;
	cover.canvas = refs::get_weak_canvas(canvas);
	cover.board = make_cover_board(canvas);
	if (!cover.board) {
		log_message(LOG_WARNING, "panic cover: no cover could be made for canvas '%s'", canvas_name(canvas));
		return;
	}
	set_on_free_channel(canvas, cover);
	covers.push_back(std::move(cover));
}

// Called with covers_mutex held: a board of the new look takes the old
// one's channel in one step, so the canvas is never shown uncovered.
void restyle(CanvasCover &cover, std::vector<SourceRef> &old_boards, std::vector<CanvasRef> &to_release)
{
	CanvasRef canvas(refs::weak_get_canvas(cover.canvas));
	SourceRef board = canvas ? make_cover_board(canvas) : SourceRef();
	if (board) {
		old_boards.push_back(std::move(cover.board));
		cover.board = std::move(board);
		const bool in_place = cover.channel < MAX_CHANNELS && holds(canvas, cover.channel, old_boards.back());
		if (in_place && (obs_canvas_get_flags(canvas) & MAIN))
			main_board.store(cover.board);
		if (in_place)
			obs_canvas_set_channel(canvas, cover.channel, cover.board);
		else
			set_on_free_channel(canvas, cover);
	}
	to_release.push_back(std::move(canvas));
}

void uncover(CanvasCover &cover, std::vector<CanvasRef> &to_release)
{
	CanvasRef canvas(refs::weak_get_canvas(cover.canvas));
	// Only a channel that still holds the cover: someone may have set
	// another source there meanwhile.
	if (canvas && cover.channel < MAX_CHANNELS && holds(canvas, cover.channel, cover.board))
		obs_canvas_set_channel(canvas, cover.channel, nullptr);
	to_release.push_back(std::move(canvas));
}

// The frontend clears every channel of the main canvas whenever it loads a
// scene collection, the one restored at start too, and shows the program
// well before it says it has finished. The host lets a channel_change
// handler replace the source being set: a clear of the cover's channel
// keeps the cover, with a reference of its own for the channel. A source
// someone else sets there is left alone.
void on_main_channel_change(void *, calldata_t *data)
{
	obs_source_t *board = main_board.load();
	if (!board || calldata_int(data, "channel") != (long long)main_channel.load() || calldata_ptr(data, "source") ||
	    calldata_ptr(data, "prev_source") != board)
		return;
	// The channel takes it over (and releases the one it held), as with
	// any source set on it: not the module's to count.
	calldata_set_ptr(data, "source", obs_source_get_ref(board));
}

void on_canvas_create(void *, calldata_t *data)
{
	auto *canvas = static_cast<obs_canvas_t *>(calldata_ptr(data, "canvas"));
	std::vector<CanvasRef> to_release;
	std::lock_guard<std::mutex> lock(covers_mutex);
	if (covering && canvas)
		cover_canvas(canvas, to_release);
	// to_release goes after the lock (declared before it).
}

void on_canvas_destroy(void *, calldata_t *data)
{
	auto *canvas = static_cast<obs_canvas_t *>(calldata_ptr(data, "canvas"));
	std::vector<CanvasCover> gone;
	std::lock_guard<std::mutex> lock(covers_mutex);
	// The canvas gives back its channels itself.
	for (auto it = covers.begin(); it != covers.end();) {
		if (it->key == canvas) {
			gone.push_back(std::move(*it));
			it = covers.erase(it);
		} else {
			++it;
		}
	}
}

} // namespace

void panic_channels_cover(const PanicLook &new_look)
{
	const std::vector<CanvasRef> canvases = all_canvases();
	std::vector<CanvasRef> to_release;
	std::lock_guard<std::mutex> lock(covers_mutex);
	covering = true;
	look = new_look;
	for (const CanvasRef &canvas : canvases)
		cover_canvas(canvas, to_release);
}

void panic_channels_restyle(const PanicLook &new_look)
{
	std::vector<SourceRef> old_boards;
	std::vector<CanvasRef> to_release;
	std::lock_guard<std::mutex> lock(covers_mutex);
	look = new_look;
	if (!covering)
		return;
	for (CanvasCover &cover : covers)
		restyle(cover, old_boards, to_release);
}

void panic_channels_uncover()
{
	std::vector<CanvasCover> gone;
	std::vector<CanvasRef> to_release;
	std::lock_guard<std::mutex> lock(covers_mutex);
	covering = false;
	main_board.store(nullptr);
	main_channel.store(MAX_CHANNELS);
	gone.swap(covers);
	for (CanvasCover &cover : gone)
		uncover(cover, to_release);
}

void panic_channels_start()
{
	if (watching)
		return;
	signal_handler_t *handler = obs_get_signal_handler();
	signal_handler_connect(handler, "canvas_create", on_canvas_create, nullptr);
	signal_handler_connect(handler, "canvas_destroy", on_canvas_destroy, nullptr);
	// The main canvas lives as long as the host.
	if (CanvasRef main_canvas{refs::main_canvas()})
		signal_handler_connect(obs_canvas_get_signal_handler(main_canvas), "channel_change",
				       on_main_channel_change, nullptr);
	watching = true;
}

void panic_channels_stop()
{
	panic_channels_uncover();
	if (!watching)
		return;
	signal_handler_t *handler = obs_get_signal_handler();
	signal_handler_disconnect(handler, "canvas_create", on_canvas_create, nullptr);
	signal_handler_disconnect(handler, "canvas_destroy", on_canvas_destroy, nullptr);
	if (CanvasRef main_canvas{refs::main_canvas()})
		signal_handler_disconnect(obs_canvas_get_signal_handler(main_canvas), "channel_change",
					  on_main_channel_change, nullptr);
	watching = false;
}
