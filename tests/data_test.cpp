// SPDX-License-Identifier: GPL-2.0-or-later
// The module's data folder: every locale carries the keys of en-US and reads
// in the host as written, a locale lacking a key falls back to en-US, and
// the plugin manager's manifest agrees with the module.
#include <obs-module.h>
#include <util/platform.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "harness/host.h"

namespace fs = std::filesystem;

namespace {

// The build's data folder: data/ with the manifest made from its template.
const fs::path kData = fs::path(MISTPANE_DATA_DIR);
// Left out of the German file in the run with --fallback.
const std::set<std::string> kDroppedKeys = {"Mode", "Hotkey.Toggle"};
bool fallback_run = false;

struct LocaleFile {
	std::map<std::string, std::string> texts;
	std::vector<std::string> duplicates;
};

// key="text" lines with the host's escapes undone.
LocaleFile read_locale(const fs::path &path)
{
	LocaleFile file;
	std::ifstream in(path);
	std::string line;
	while (std::getline(in, line)) {
		if (line.empty() || line[0] == '#')
			continue;
		const size_t eq = line.find('=');
		std::string key = line.substr(0, eq);
		std::string text = eq == std::string::npos ? "" : line.substr(eq + 1);
		if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
			text = text.substr(1, text.size() - 2);
		for (const auto &[from, to] : {std::pair{"\\n", "\n"}, {"\\t", "\t"}, {"\\\"", "\""}})
			for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1))
				text.replace(at, 2, to);
		if (file.texts.count(key))
			file.duplicates.push_back(key);
		file.texts[key] = text;
	}
	return file;
}

// The printf conversions of a text, in order; they must survive translation.
std::vector<std::string> conversions(const std::string &text)
{
	static const std::regex conversion("%[-+#0]*[0-9]*(\\.[0-9]+)?[diouxXeEfgGcsp%]");
	std::vector<std::string> found;
	for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion); it != std::sregex_iterator(); ++it)
		found.push_back(it->str());
	return found;
}

std::vector<std::string> locale_names()
{
	std::vector<std::string> names;
	for (const auto &entry : fs::directory_iterator(kData / "locale"))
		if (entry.path().extension() == ".ini")
			names.push_back(entry.path().stem().string());
	std::sort(names.begin(), names.end());
	return names;
}

std::string host_text(const char *key)
{
	const char *out = nullptr;
	return obs_module_get_locale_string(harness::module(), key, &out) ? out : "(missing)";
}

TEST(Locales, CarryExactlyTheKeysOfEnUs)
{
	const std::vector<std::string> names = locale_names();
	for (const char *wanted : {"en-US", "de-DE", "es-ES", "fr-FR", "it-IT", "ja-JP", "pt-BR", "ru-RU", "zh-CN"})
		EXPECT_TRUE(std::count(names.begin(), names.end(), wanted)) << "no locale " << wanted;

	const LocaleFile reference = read_locale(kData / "locale" / "en-US.ini");
	ASSERT_GT(reference.texts.size(), 30u);
	for (const std::string &name : names) {
		SCOPED_TRACE(name);
		const LocaleFile file = read_locale(kData / "locale" / (name + ".ini"));
		EXPECT_TRUE(file.duplicates.empty()) << "key given twice: " << file.duplicates.front();
		for (const auto &[key, text] : reference.texts) {
			const auto found = file.texts.find(key);
			if (found == file.texts.end()) {
				ADD_FAILURE() << "missing " << key;
				continue;
			}
			EXPECT_FALSE(found->second.empty()) << key;
			EXPECT_EQ(conversions(found->second), conversions(text)) << key;
		}
		for (const auto &entry : file.texts)
			EXPECT_TRUE(reference.texts.count(entry.first)) << "not in en-US: " << entry.first;
	}
}

// The host's own reader must see each line as it is written (an unescaped
// quote or a stray byte order mark would cut or rename a text).
TEST(Locales, ReadInTheHostAsWritten)
{
	for (const std::string &name : locale_names()) {
		SCOPED_TRACE(name);
		obs_set_locale(name.c_str());
		const LocaleFile file = read_locale(kData / "locale" / (name + ".ini"));
		for (const auto &[key, text] : file.texts)
			EXPECT_EQ(host_text(key.c_str()), text) << key;
		EXPECT_EQ(obs_source_get_display_name("korvanta_blur_board"), file.texts.at("BlurBoard"));
	}
	obs_set_locale("en-US");
}

TEST(LocaleFallback, MissingKeysShowTheEnUsText)
{
	const LocaleFile english = read_locale(kData / "locale" / "en-US.ini");
	const LocaleFile german = read_locale(kData / "locale" / "de-DE.ini");
	obs_set_locale("de-DE");
	for (const auto &[key, text] : english.texts)
		EXPECT_EQ(host_text(key.c_str()), kDroppedKeys.count(key) ? text : german.texts.at(key)) << key;
	obs_set_locale("en-US");
}

TEST(Manifest, AgreesWithTheModule)
{
	obs_module_t *module = harness::module();
	void *lib = obs_get_module_lib(module);
	auto *name = reinterpret_cast<const char *(*)()>(os_dlsym(lib, "obs_module_name"));
	auto *description = reinterpret_cast<const char *(*)()>(os_dlsym(lib, "obs_module_description"));
	ASSERT_TRUE(name && description);

	obs_data_t *manifest = obs_data_create_from_json_file((kData / "manifest.json").c_str());
	ASSERT_NE(manifest, nullptr) << "manifest.json does not parse";
	EXPECT_STREQ(obs_data_get_string(manifest, "name"), name());
	EXPECT_STREQ(obs_data_get_string(manifest, "display_name"), name());
	EXPECT_STREQ(obs_data_get_string(manifest, "description"), description());
	EXPECT_STREQ(obs_data_get_string(manifest, "version"), MISTPANE_VERSION);
	EXPECT_STREQ(obs_data_get_string(manifest, "id"), "mistpane");
	// Only fields that libobs reads: a misspelt one would be dropped silently.
	const std::set<std::string> known = {"id",       "name",        "display_name",     "version",
					     "os_arch",  "description", "long_description", "urls",
					     "has_icon", "has_banner"};
	for (obs_data_item_t *item = obs_data_first(manifest); item; obs_data_item_next(&item))
		EXPECT_TRUE(known.count(obs_data_item_get_name(item))) << obs_data_item_get_name(item);
	obs_data_release(manifest);

	// The host read it at load, and the module logs the same version.
	EXPECT_STREQ(obs_get_module_version(module), MISTPANE_VERSION);
	EXPECT_EQ(
	    harness::log_matching(std::string("plugin loaded successfully (version ") + MISTPANE_VERSION + ")").size(),
	    1u);
}

// A copy of the data folder whose German file lacks kDroppedKeys.
std::string write_partial_german()
{
	char pattern[] = "/tmp/mistpane-fallback-XXXXXX";
	const char *dir = mkdtemp(pattern);
	if (!dir)
		return {};
	const fs::path root(dir);
	fs::create_directories(root / "locale");
	fs::copy_file(kData / "locale" / "en-US.ini", root / "locale" / "en-US.ini");
	std::ifstream in(kData / "locale" / "de-DE.ini");
	std::ofstream out(root / "locale" / "de-DE.ini");
	std::string line;
	while (std::getline(in, line))
		if (!kDroppedKeys.count(line.substr(0, line.find('='))))
			out << line << '\n';
	return root.string();
}

} // namespace

int main(int argc, char **argv)
{
	harness::HostOptions options;
	for (int i = 1; i < argc; ++i)
		fallback_run = fallback_run || std::string(argv[i]) == "--fallback";
	::testing::GTEST_FLAG(filter) = fallback_run ? "LocaleFallback.*" : "-LocaleFallback.*";
	if (fallback_run) {
		options.data_path = write_partial_german();
		if (options.data_path.empty())
			return 2;
	}
	const int result = harness::run_tests(argc, argv, options);
	if (fallback_run)
		fs::remove_all(options.data_path);
	return result;
}
