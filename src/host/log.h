// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <util/base.h>

// One line to the host log, prefixed "[mistpane] ". Levels: LOG_ERROR,
// LOG_WARNING, LOG_INFO.
void log_message(int level, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
