// SPDX-License-Identifier: GPL-2.0-or-later
#include "board/cover_image.h"

#include <obs.h>

#include <new>

std::shared_ptr<const CoverImage> CoverImage::load(const char *path)
{
	if (!path || !*path)
		return nullptr;
	std::shared_ptr<CoverImage> image(new (std::nothrow) CoverImage());
	if (!image)
		return nullptr;
	// Decoding needs no graphics context: only the upload holds it, so a
	// large file does not stall the host's drawing.
	gs_image_file4_init(&image->file, path, GS_IMAGE_ALPHA_PREMULTIPLY_SRGB);
	if (!image->file.image3.image2.image.loaded)
		return nullptr;
	obs_enter_graphics();
	gs_image_file4_init_texture(&image->file);
	obs_leave_graphics();
	if (!image->texture())
		return nullptr;
	return image;
}

CoverImage::~CoverImage()
{
	obs_enter_graphics();
	gs_image_file4_free(&file);
	obs_leave_graphics();
}
