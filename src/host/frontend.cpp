// SPDX-License-Identifier: GPL-2.0-or-later
#include "host/frontend.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

void *frontend_symbol(const char *name)
{
#ifdef _WIN32
	HMODULE library = GetModuleHandleW(L"obs-frontend-api.dll");
	// Through void (*)(), the one type GCC lets any function pointer pass.
	return library ? reinterpret_cast<void *>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)))
		       : nullptr;
#else
	return dlsym(RTLD_DEFAULT, name);
#endif
}

void FrontendEvents::start()
{
	const auto add = frontend_function<CallbackFn>("obs_frontend_add_event_callback");
	remove_ = frontend_function<CallbackFn>("obs_frontend_remove_event_callback");
	if (add && remove_)
		add(on_event, this);
	else
		remove_ = nullptr;
}

void FrontendEvents::stop()
{
	if (remove_ && !gone_)
		remove_(on_event, this);
	remove_ = nullptr;
}

void FrontendEvents::on_event(enum obs_frontend_event event, void *param)
{
	auto *self = static_cast<FrontendEvents *>(param);
	self->handler_(event);
	if (event == OBS_FRONTEND_EVENT_EXIT)
		self->gone_ = true;
}
