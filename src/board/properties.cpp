// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/properties.h"

#include <obs-module.h>

#include <cstring>
#include <string>

#include "board/blur_board.h"
#include "board/hiding_warnings.h"
#include "board/settings.h"
#include "host/locale.h"

namespace {

namespace k = setting_keys;
namespace v = setting_values;

void add_info(obs_properties_t *props, const char *name, const char *text_key)
{
	obs_properties_add_text(props, name, module_text(text_key), OBS_TEXT_INFO);
}

// The note line repeats the control's long description, for users who never
// hover to see tooltips.
void describe(obs_property_t *prop, obs_properties_t *props, const char *desc_key, const char *note_name)
{
	obs_property_set_long_description(prop, module_text(desc_key));
	if (note_name)
		add_info(props, note_name, desc_key);
}

obs_property_t *add_float(obs_properties_t *props, const char *name, const char *label_key, double min, double max,
			  double step, const char *suffix)
{
	obs_property_t *prop = obs_properties_add_float_slider(props, name, module_text(label_key), min, max, step);
	obs_property_float_set_suffix(prop, suffix);
	return prop;
}

obs_property_t *add_size(obs_properties_t *props, const char *name, const char *label_key)
{
	obs_property_t *prop = obs_properties_add_int(props, name, module_text(label_key), 1, 16384, 1);
	obs_property_int_set_suffix(prop, " px");
	return prop;
}

// As update reads it: "mosaic" and "cover" exactly, anything else is blur.
enum class Mode { Blur, Mosaic, Cover };

Mode mode_of(obs_data_t *settings)
{
	const char *mode = obs_data_get_string(settings, k::kMode);
	if (mode && std::strcmp(mode, v::kModeMosaic) == 0)
		return Mode::Mosaic;
	if (mode && std::strcmp(mode, v::kModeCover) == 0)
		return Mode::Cover;
	return Mode::Blur;
}

// A warning line shown only while the setting hides less than it seems to,
// with the figures of the moment.
void show_warning(obs_properties_t *props, const char *name, const char *text_key, bool applies, float used,
		  float needed)
{
	obs_property_t *line = obs_properties_get(props, name);
	obs_property_set_visible(line, applies);
	if (applies)
		obs_property_set_description(line, fill_warning(module_text(text_key), used, needed).c_str());
}

void update_warnings(obs_properties_t *props, obs_data_t *settings)
{
	namespace d = setting_defaults;
	const Mode mode = mode_of(settings);
	const float strength = (float)read_number(settings, k::kStrength, d::strength);
	const float radius =
	    effective_blur_radius((float)read_number(settings, k::kBlurRadius, d::blur_radius), strength);
	const float cell =
	    effective_mosaic_cell((float)read_number(settings, k::kMosaicSize, d::mosaic_size), strength);
	show_warning(props, "blur_radius_warning", "BlurRadius.Warning", mode == Mode::Blur && radius < kSafeBlurRadius,
		     radius, blur_radius_needed(strength));
	show_warning(props, "mosaic_size_warning", "MosaicSize.Warning", mode == Mode::Mosaic && cell < kSafeMosaicCell,
		     cell, mosaic_size_needed(strength));
}

void show(obs_properties_t *props, const char *name, bool visible)
{
	obs_property_set_visible(obs_properties_get(props, name), visible);
}

bool mode_modified(obs_properties_t *props, obs_property_t *, obs_data_t *settings)
{
	const Mode mode = mode_of(settings);
	const bool cover = mode == Mode::Cover;
	show(props, "mode_guidance", !cover);
	show(props, k::kCoverColor, cover);
	show(props, k::kCoverImage, cover);
	show(props, k::kBlurRadius, mode == Mode::Blur);
	show(props, "blur_radius_note", mode == Mode::Blur);
	show(props, k::kMosaicSize, mode == Mode::Mosaic);
	show(props, "mosaic_size_note", mode == Mode::Mosaic);
	show(props, "feather_cover_note", cover);
	// A cover is opaque whatever the strength.
	show(props, k::kStrength, !cover);
	show(props, "strength_note", !cover);
	update_warnings(props, settings);
	return true;
}

// The corner radius only means something for a rounded rectangle.
bool shape_modified(obs_properties_t *props, obs_property_t *, obs_data_t *settings)
{
	show(props, k::kCornerRadius, shape_kind_of(obs_data_get_string(settings, k::kShape)) == ShapeKind::Rounded);
	return true;
}

bool hiding_modified(obs_properties_t *props, obs_property_t *, obs_data_t *settings)
{
	update_warnings(props, settings);
	return true;
}

void add_warning(obs_properties_t *props, const char *name, const char *text_key)
{
	obs_property_t *line = obs_properties_add_text(props, name, module_text(text_key), OBS_TEXT_INFO);
	obs_property_text_set_info_type(line, OBS_TEXT_INFO_WARNING);
	obs_property_set_visible(line, false);
}

void add_status(obs_properties_t *props, const BlurBoard *board)
{
	switch (board->placement_status.load()) {
	case PlacementStatus::Shared: {
		obs_property_t *prop =
		    obs_properties_add_text(props, "status", module_text("Status.Shared"), OBS_TEXT_INFO);
		obs_property_text_set_info_type(prop, OBS_TEXT_INFO_WARNING);
		break;
	}
	case PlacementStatus::NotPlaced:
		add_info(props, "status", "Status.NotPlaced");
		break;
	default:
		break;
	}
}

// The mode, what it protects against, and cover mode's own controls.
void add_mode_controls(obs_properties_t *props)
{
	obs_property_t *prop =
	    obs_properties_add_list(props, k::kMode, module_text("Mode"), OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
	obs_property_list_add_string(prop, module_text("Mode.Blur"), v::kModeBlur);
	obs_property_list_add_string(prop, module_text("Mode.Mosaic"), v::kModeMosaic);
	obs_property_list_add_string(prop, module_text("Mode.Cover"), v::kModeCover);
	obs_property_set_modified_callback(prop, mode_modified);
	describe(prop, props, "Mode.Desc", nullptr);
	// Plain information, not a warning: blur and mosaic do what they say.
	add_info(props, "mode_guidance", "Mode.Guidance");

	prop = obs_properties_add_color(props, k::kCoverColor, module_text("CoverColor"));
	describe(prop, props, "CoverColor.Desc", nullptr);
	// The formats the host's image loader reads.
	const std::string filter =
	    std::string(module_text("CoverImage.Files")) + " (*.png *.jpg *.jpeg *.bmp *.tga *.gif *.webp *.psd *.jxr)";
	prop = obs_properties_add_path(props, k::kCoverImage, module_text("CoverImage"), OBS_PATH_FILE, filter.c_str(),
				       nullptr);
	describe(prop, props, "CoverImage.Desc", nullptr);
}

} // namespace

void add_hiding_properties(obs_properties_t *props)
{
	add_mode_controls(props);

	obs_property_t *prop = add_float(props, k::kBlurRadius, "BlurRadius", 0.0, 200.0, 0.5, " px");
	describe(prop, props, "BlurRadius.Desc", "blur_radius_note");
	obs_property_set_modified_callback(prop, hiding_modified);
	add_warning(props, "blur_radius_warning", "BlurRadius.Warning");

	prop = add_float(props, k::kMosaicSize, "MosaicSize", 2.0, 200.0, 1.0, " px");
	describe(prop, props, "MosaicSize.Desc", "mosaic_size_note");
	obs_property_set_modified_callback(prop, hiding_modified);
	add_warning(props, "mosaic_size_warning", "MosaicSize.Warning");

	prop = obs_properties_add_list(props, k::kShape, module_text("Shape"), OBS_COMBO_TYPE_LIST,
				       OBS_COMBO_FORMAT_STRING);
	obs_property_list_add_string(prop, module_text("Shape.Rect"), v::kShapeRect);
	obs_property_list_add_string(prop, module_text("Shape.Ellipse"), v::kShapeEllipse);
	obs_property_list_add_string(prop, module_text("Shape.Rounded"), v::kShapeRounded);
	obs_property_set_modified_callback(prop, shape_modified);
	describe(prop, props, "Shape.Desc", nullptr);

	prop = add_float(props, k::kCornerRadius, "CornerRadius", 0.0, 500.0, 1.0, " px");
	describe(prop, props, "CornerRadius.Desc", nullptr);

	prop = add_float(props, k::kFeather, "Feather", 0.0, 300.0, 1.0, " px");
	describe(prop, props, "Feather.Desc", "feather_note");
	add_info(props, "feather_cover_note", "Feather.CoverNote");

	prop = obs_properties_add_bool(props, k::kInvert, module_text("Invert"));
	describe(prop, props, "Invert.Desc", nullptr);

	prop = add_float(props, k::kStrength, "Strength", 0.0, 100.0, 1.0, " %");
	describe(prop, props, "Strength.Desc", "strength_note");
	obs_property_set_modified_callback(prop, hiding_modified);

	prop = obs_properties_add_bool(props, k::kEnabled, module_text("Enabled"));
	describe(prop, props, "Enabled.Desc", nullptr);

	prop = add_float(props, k::kFadeSeconds, "Fade", 0.0, 10.0, 0.05, module_text("Unit.Seconds"));
	describe(prop, props, "Fade.Desc", "fade_note");
}

obs_properties_t *board_get_properties(void *data)
{
	obs_properties_t *props = obs_properties_create();
	if (data)
		add_status(props, static_cast<const BlurBoard *>(data));

	add_info(props, "help", "BlurBoard.Help");
	add_hiding_properties(props);

	obs_property_t *prop = add_size(props, k::kWidth, "Width");
	describe(prop, props, "Size.Desc", nullptr);
	prop = add_size(props, k::kHeight, "Height");
	describe(prop, props, "Size.Desc", "size_note");

	prop = obs_properties_add_bool(props, k::kEmergency, module_text("Emergency"));
	describe(prop, props, "Emergency.Desc", nullptr);

	prop = add_float(props, k::kEmergencySize, "EmergencySize", 1.0, 25.0, 0.5, " %");
	describe(prop, props, "EmergencySize.Desc", "emergency_size_note");

	return props;
}
