// SPDX-License-Identifier: GPL-2.0-or-later
#ifdef MISTPANE_REF_AUDIT

#include "host/host_refs.h"

#include <obs.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "host/log.h"

namespace refs {

namespace {

struct Audit {
	std::mutex mutex;
	// Net references per object; an entry goes when it is back to 0.
	std::map<std::pair<Kind, const void *>, long> held;
	uint64_t taken = 0;
	long boards = 0;
	bool unloaded = false;
};

Audit &audit()
{
	// Never destroyed: boards the host frees after unload still report here.
	static Audit *instance = new Audit;
	return *instance;
}

const char *kind_name(Kind kind)
{
	switch (kind) {
	case Kind::Source:
		return "source";
	case Kind::Scene:
		return "scene";
	case Kind::Item:
		return "scene item";
	case Kind::Canvas:
		return "canvas";
	case Kind::Data:
		return "settings";
	case Kind::WeakSource:
		return "weak source";
	case Kind::WeakCanvas:
		return "weak canvas";
	}
	return "?";
}

uint64_t outstanding_locked(Audit &a, std::string *report)
{
	uint64_t total = 0;
	for (const auto &[key, count] : a.held) {
		total += count > 0 ? uint64_t(count) : uint64_t(-count);
		if (report) {
			char line[96];
			std::snprintf(line, sizeof(line), "%s%s %p %+ld", report->empty() ? "" : ", ",
				      kind_name(key.first), key.second, count);
			*report += line;
		}
	}
	return total;
}

void log_balance_locked(Audit &a)
{
	std::string report;
	if (outstanding_locked(a, &report) == 0)
		log_message(LOG_INFO, "references: %" PRIu64 " taken, every one given back", a.taken);
	else
		log_message(LOG_ERROR, "reference imbalance: %s", report.c_str());
}

void balance_proc(void *, calldata_t *data)
{
	std::string report;
	Audit &a = audit();
	std::lock_guard<std::mutex> lock(a.mutex);
	calldata_set_int(data, "outstanding", (long long)outstanding_locked(a, &report));
	calldata_set_int(data, "boards", a.boards);
	calldata_set_string(data, "report", report.c_str());
}

} // namespace

void note(Kind kind, const void *object, int delta)
{
	Audit &a = audit();
	std::lock_guard<std::mutex> lock(a.mutex);
	if (delta > 0)
		a.taken += uint64_t(delta);
	auto found = a.held.try_emplace({kind, object}, 0).first;
	found->second += delta;
	if (found->second == 0)
		a.held.erase(found);
}

void board_created()
{
	Audit &a = audit();
	std::lock_guard<std::mutex> lock(a.mutex);
	++a.boards;
}

void board_destroyed()
{
	Audit &a = audit();
	std::lock_guard<std::mutex> lock(a.mutex);
	if (--a.boards == 0 && a.unloaded)
		log_balance_locked(a);
}

void module_unloaded()
{
	Audit &a = audit();
	std::lock_guard<std::mutex> lock(a.mutex);
	a.unloaded = true;
	if (a.boards == 0)
		log_balance_locked(a);
	else
		log_message(LOG_INFO, "references: %ld board(s) still alive at unload; balance follows their destroy",
			    a.boards);
}

uint64_t outstanding(std::string *report)
{
	Audit &a = audit();
	std::lock_guard<std::mutex> lock(a.mutex);
	return outstanding_locked(a, report);
}

void register_balance_proc()
{
	proc_handler_add(obs_get_proc_handler(),
			 "void mistpane_reference_balance(out int outstanding, out int boards, out string report)",
			 balance_proc, nullptr);
}

} // namespace refs

#endif
