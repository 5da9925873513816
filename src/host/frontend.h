// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <obs-frontend-api.h>

// A function of OBS Studio's frontend library when the host process has
// loaded it, else null: looked up rather than linked, as the module also
// runs in hosts without the frontend.
void *frontend_symbol(const char *name);

template <typename Fn>
Fn frontend_function(const char *name)
{
	return reinterpret_cast<Fn>(frontend_symbol(name));
}

// One subscription to the frontend's events; does nothing where no
// frontend is loaded. After OBS_FRONTEND_EVENT_EXIT the frontend's
// interface is gone, so stop no longer calls it.
class FrontendEvents {
      public:
	using Handler = void (*)(enum obs_frontend_event event);
	constexpr explicit FrontendEvents(Handler handler) : handler_(handler) {}

	void start();
	void stop();

      private:
	using CallbackFn = void (*)(obs_frontend_event_cb, void *);
	static void on_event(enum obs_frontend_event event, void *param);

	Handler handler_;
	CallbackFn remove_ = nullptr;
	bool gone_ = false;
};
