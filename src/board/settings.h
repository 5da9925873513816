// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs.h>

#include <cstdint>

// The keys of a board's settings: saved in scene collections and sent by
// remote-control programs, so they never change.
namespace setting_keys {
inline constexpr const char *kMode = "mode";
inline constexpr const char *kBlurRadius = "blur_radius";
inline constexpr const char *kMosaicSize = "mosaic_size";
inline constexpr const char *kStrength = "strength";
inline constexpr const char *kEnabled = "enabled";
inline constexpr const char *kFadeSeconds = "fade_seconds";
inline constexpr const char *kWidth = "width";
inline constexpr const char *kHeight = "height";
inline constexpr const char *kEmergency = "emergency";
inline constexpr const char *kEmergencySize = "emergency_size";
inline constexpr const char *kShape = "shape";
inline constexpr const char *kFeather = "feather";
inline constexpr const char *kCornerRadius = "corner_radius";
// Hides everything the board's canvas shows except the shape.
inline constexpr const char *kInvert = "invert";
// Cover mode: a colour (0xAABBGGRR, drawn opaque) and an optional image.
inline constexpr const char *kCoverColor = "cover_color";
inline constexpr const char *kCoverImage = "cover_image";
// Hidden: the board redraws what lies beneath it even where it could copy
// the canvas.
inline constexpr const char *kForceRedraw = "force_redraw";
} // namespace setting_keys

// The choices of the list settings, saved as these texts.
namespace setting_values {
inline constexpr const char *kModeBlur = "blur";
inline constexpr const char *kModeMosaic = "mosaic";
inline constexpr const char *kModeCover = "cover";
inline constexpr const char *kShapeRect = "rect";
inline constexpr const char *kShapeEllipse = "ellipse";
inline constexpr const char *kShapeRounded = "rounded";
} // namespace setting_values

// Defaults of a board's settings, shared by get_defaults and by the
// readers below for values of the wrong type.
namespace setting_defaults {
constexpr const char *mode = setting_values::kModeBlur;
constexpr double blur_radius = 20.0;
constexpr double mosaic_size = 24.0;
constexpr double strength = 100.0;
constexpr bool enabled = true;
constexpr double fade_seconds = 0.5;
constexpr int64_t width = 640;
constexpr int64_t height = 360;
constexpr bool emergency = false;
constexpr double emergency_size = 6.0;
constexpr const char *shape = setting_values::kShapeRect;
constexpr double feather = 0.0;
constexpr double corner_radius = 24.0;
constexpr bool invert = false;
constexpr int64_t cover_color = 0xFF303030; // dark grey, the host's 0xAABBGGRR
constexpr const char *cover_image = "";
} // namespace setting_defaults

// Clamps applied when update reads the settings. Wider than the sliders:
// values from saved settings or other programs inside them are kept.
inline float clamp_float(float value, float low, float high)
{
	if (value != value)
		return low;
	if (value > high)
		return high;
	if (value < low)
		return low;
	return value;
}

// Compared as 64-bit before narrowing, so 2^32 + 640 is not 640.
inline uint32_t clamp_size(int64_t value)
{
	if (value > 16384)
		return 16384;
	if (value < 1)
		return 1;
	return static_cast<uint32_t>(value);
}

// The host keeps an item's type once it has one, and then refuses a
// default of another type: a value of the wrong type is dropped before the
// defaults are set, so the item takes the default's type and value.
void drop_mistyped_value(obs_data_t *settings, const char *key, obs_data_type type);

// A default set after any value of another type has been dropped.
void set_typed_default(obs_data_t *settings, const char *key, const char *value);
void set_typed_default(obs_data_t *settings, const char *key, double value);
void set_typed_default(obs_data_t *settings, const char *key, int64_t value);
void set_typed_default(obs_data_t *settings, const char *key, bool value);

// Readers that never turn a value of the wrong type into 0 or false (the
// host's plain getters do): a remote-control program that sends "strength"
// as the text "100" must not switch the board off. A number read from a
// text, a NaN or a missing key gives the fallback; infinities keep their
// sign.
double read_number(obs_data_t *settings, const char *key, double fallback);
// Whole numbers; a fractional or huge value clamps by its sign to the
// 64-bit range first.
int64_t read_integer(obs_data_t *settings, const char *key, int64_t fallback);
bool read_bool(obs_data_t *settings, const char *key, bool fallback);
// Valid until the settings change.
const char *read_string(obs_data_t *settings, const char *key, const char *fallback);

// The shape of a board's mask, as its settings give it.
enum class ShapeKind { Rect, Rounded, Ellipse };

struct BoardShape {
	ShapeKind kind = ShapeKind::Rect;
	float feather = 0.0f; // canvas pixels
	float corner_radius = (float)setting_defaults::corner_radius; // canvas pixels
	bool invert = false;
};

// "ellipse" and "rounded" exactly; any other word (or none) is a rectangle.
ShapeKind shape_kind_of(const char *word);

// The shape settings (shape, feather, corner_radius, invert), clamped as
// update reads them; a source of any type may read its own settings so.
BoardShape read_shape(obs_data_t *settings);

// Their defaults, for a get_defaults.
void set_shape_defaults(obs_data_t *settings);

// Anything but a plain rectangle needs the mask, and the untouched picture
// mixed back in.
inline bool needs_mask(const BoardShape &shape)
{
	return shape.kind != ShapeKind::Rect || shape.feather > 0.0f || shape.invert;
}
