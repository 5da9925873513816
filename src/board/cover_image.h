// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <graphics/image-file.h>

#include <memory>

// The image a cover-mode board draws: decoded by whichever thread updates
// the board, uploaded once, and freed inside the graphics context by the
// last holder (the board, or a draw that still shows it).
class CoverImage {
      public:
	// Null when the file cannot be read or made into a texture.
	static std::shared_ptr<const CoverImage> load(const char *path);
	~CoverImage();
	CoverImage(const CoverImage &) = delete;
	CoverImage &operator=(const CoverImage &) = delete;

	gs_texture_t *texture() const { return file.image3.image2.image.texture; }
	uint32_t width() const { return file.image3.image2.image.cx; }
	uint32_t height() const { return file.image3.image2.image.cy; }
	gs_color_space space() const { return file.space; }

      private:
	CoverImage() = default;
	gs_image_file4_t file{};
};
