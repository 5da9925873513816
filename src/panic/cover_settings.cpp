// SPDX-License-Identifier: GPL-2.0-or-later
#include "panic/cover_settings.h"

#include <obs-module.h>

#include <cstring>
#include <mutex>

#include "host/locale.h"
#include "panic/state.h"

namespace {

// The formats the host's image loader reads, as the board offers them.
constexpr const char *kImageFilter = " (*.png *.jpg *.jpeg *.bmp *.tga *.gif *.webp *.psd *.jxr)";

std::mutex source_mutex;
SourceRef settings_source;
bool registered = false;

const char *get_name(void *)
{
	return module_text("PanicCover");
}

// Nothing to keep: the look lives with the panic state.
void *create(obs_data_t *, obs_source_t *source)
{
	return source;
}

void destroy(void *)
{
}

void update(void *, obs_data_t *settings)
{
	panic_set_look(panic_look_read(settings), PanicCause::ToolsMenu);
}

void get_defaults(obs_data_t *settings)
{
	const PanicLook look;
	obs_data_set_default_string(settings, panic_keys::kStyle, panic_style_name(look.style));
	obs_data_set_default_int(settings, panic_keys::kCoverColor, look.cover_color);
	obs_data_set_default_string(settings, panic_keys::kCoverImage, "");
}

bool style_modified(obs_properties_t *props, obs_property_t *, obs_data_t *settings)
{
	PanicStyle style = PanicStyle::Cover;
	panic_style_from_name(obs_data_get_string(settings, panic_keys::kStyle), style);
	const bool cover = style == PanicStyle::Cover;
	obs_property_set_visible(obs_properties_get(props, panic_keys::kCoverColor), cover);
	obs_property_set_visible(obs_properties_get(props, panic_keys::kCoverImage), cover);
	return true;
}

obs_properties_t *get_properties(void *)
{
	obs_properties_t *props = obs_properties_create();
	obs_property_t *style = obs_properties_add_list(props, panic_keys::kStyle, module_text("PanicCover.Style"),
							OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
	obs_property_list_add_string(style, module_text("PanicCover.Style.Cover"), panic_values::kStyleCover);
	obs_property_list_add_string(style, module_text("PanicCover.Style.Mosaic"), panic_values::kStyleMosaic);
	obs_property_set_long_description(style, module_text("PanicCover.Style.Desc"));
	obs_property_set_modified_callback(style, style_modified);
	obs_properties_add_color(props, panic_keys::kCoverColor, module_text("CoverColor"));
	const std::string filter = std::string(module_text("CoverImage.Files")) + kImageFilter;
	obs_property_t *image = obs_properties_add_path(props, panic_keys::kCoverImage, module_text("CoverImage"),
							OBS_PATH_FILE, filter.c_str(), nullptr);
	obs_property_set_long_description(image, module_text("PanicCover.Image.Desc"));
	obs_properties_add_text(props, "note", module_text("PanicCover.Style.Desc"), OBS_TEXT_INFO);
	return props;
}

void register_type()
{
	obs_source_info info = {};
	info.id = kPanicCoverTypeId;
	info.type = OBS_SOURCE_TYPE_INPUT;
	// No video: the host then runs update at once, on the dialog's thread,
	// and the dialog shows no preview.
	info.output_flags = OBS_SOURCE_CAP_DISABLED;
	info.get_name = get_name;
	info.create = create;
	info.destroy = destroy;
	info.update = update;
	info.get_defaults = get_defaults;
	info.get_properties = get_properties;
	obs_register_source(&info);
}

} // namespace

void panic_cover_settings_start()
{
	if (!registered) {
		register_type();
		registered = true;
	}
}

void panic_cover_settings_stop()
{
	SourceRef gone;
	std::lock_guard<std::mutex> lock(source_mutex);
	gone = std::move(settings_source);
}

void panic_cover_settings_show(const PanicLook &look)
{
	SourceRef source;
	{
		std::lock_guard<std::mutex> lock(source_mutex);
		source = SourceRef(refs::source_get_ref(settings_source));
	}
	if (!source)
		return;
	DataRef settings(refs::data_create());
	panic_look_write(settings, look);
	obs_source_update(source, settings);
}

SourceRef panic_cover_settings_source()
{
	std::lock_guard<std::mutex> lock(source_mutex);
	if (!settings_source && registered) {
		DataRef settings(refs::data_create());
		panic_look_write(settings, panic_look());
		settings_source =
		    SourceRef(refs::create_private_source(kPanicCoverTypeId, module_text("PanicCover"), settings));
	}
	return SourceRef(refs::source_get_ref(settings_source));
}
