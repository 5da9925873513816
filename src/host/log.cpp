// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr const char *kPrefixWord = "mistpane";
}

void log_message(int level, const char *format, ...)
{
	// The caller's specifiers stay live in the composed format, so the
	// host fills them from the caller's arguments.
	const size_t size = std::strlen(kPrefixWord) + std::strlen(format) + 4;
	char *composed = static_cast<char *>(std::malloc(size));
	if (!composed)
		return;
	std::snprintf(composed, size, "[%s] %s", kPrefixWord, format);

	va_list args;
	va_start(args, format);
	blogva(level, composed, args);
	va_end(args);
	std::free(composed);
}
