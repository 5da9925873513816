// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/locale.h"

#include <util/text-lookup.h>

namespace {
constexpr const char *kDefaultLocale = "en-US";
lookup_t *lookup = nullptr;
} // namespace

const char *module_text(const char *key)
{
	const char *text = key;
	text_lookup_getstr(lookup, key, &text);
	return text;
}

void locale_set(obs_module_t *module, const char *locale)
{
	if (lookup)
		text_lookup_destroy(lookup);
	lookup = obs_module_load_locale(module, kDefaultLocale, locale);
}

void locale_free()
{
	text_lookup_destroy(lookup);
	lookup = nullptr;
}

bool locale_get_string(const char *key, const char **out)
{
	return text_lookup_getstr(lookup, key, out);
}
