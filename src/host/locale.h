// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs-module.h>

// The locale text for a key, or the key itself when there is none.
const char *module_text(const char *key);

void locale_set(obs_module_t *module, const char *locale);
void locale_free();
bool locale_get_string(const char *key, const char **out);
