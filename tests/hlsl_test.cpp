// SPDX-License-Identifier: GPL-2.0-or-later
// The board effect as OBS on Windows compiles it: the host's effect parser
// writes one vertex and one pixel shader text per technique pass, the
// Direct3D 11 backend rewrites each into HLSL (its shader processor) and
// compiles it for shader model 4. Here the texts are taken from the real
// effect parser, rewritten the same way and compiled with vkd3d-compiler.
#include <obs.h>
#include <graphics/graphics.h>
#include <graphics/shader-parser.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "harness/host.h"
#include "render/board_effect.h"

namespace {

struct ShaderText {
	std::string location; // "<file> (Vertex shader, technique T, pass N)"
	std::string text;
	bool vertex;
};

bool capturing = false;
std::vector<ShaderText> captured;

using ShaderCreate = gs_shader_t *(*)(const char *, const char *, char **);

gs_shader_t *capture(bool vertex, const char *name, const char *shader, const char *file, char **errors)
{
	if (capturing)
		captured.push_back({file ? file : "", shader ? shader : "", vertex});
	auto real = reinterpret_cast<ShaderCreate>(dlsym(RTLD_NEXT, name));
	return real ? real(shader, file, errors) : nullptr;
}

} // namespace

// The effect parser inside libobs creates its shaders through these; the
// test binary's exports come first, so every text passes through here on
// its way to the OpenGL backend.
extern "C" gs_shader_t *gs_vertexshader_create(const char *shader, const char *file, char **error_string)
{
	return capture(true, "gs_vertexshader_create", shader, file, error_string);
}

extern "C" gs_shader_t *gs_pixelshader_create(const char *shader, const char *file, char **error_string)
{
	return capture(false, "gs_pixelshader_create", shader, file, error_string);
}

namespace {

// Semantics the backend can lay vertex inputs out for.
const std::set<std::string> kInputSemantics = {"POSITION", "NORMAL", "COLOR", "TANGENT", "TEXCOORD", "VERTEXID"};

void check_inputs(shader_parser *parser, const shader_var *vars, size_t count, std::string &problems)
{
	for (size_t i = 0; i < count; ++i) {
		const shader_var &var = vars[i];
		if (var.mapping) {
			std::string name(var.mapping);
			name.erase(name.find_last_not_of("0123456789") + 1);
			if (!kInputSemantics.count(name))
				problems += std::string("unknown input semantic ") + var.mapping + "\n";
		} else if (shader_struct *st = shader_parser_getstruct(parser, var.type)) {
			check_inputs(parser, st->vars.array, st->vars.num, problems);
		}
	}
}

// The Direct3D 11 backend's rewrite of one shader text into HLSL; empty
// with problems set when the backend would refuse the text.
std::string to_hlsl(const ShaderText &shader, std::string &problems)
{
	shader_parser parser;
	shader_parser_init(&parser);
	const bool parsed = shader_parse(&parser, shader.text.c_str(), shader.location.c_str());
	if (char *errors = shader_parser_geterrors(&parser)) {
		problems += errors;
		bfree(errors);
	}
	std::string out;
	if (parsed) {
		if (shader.vertex) {
			if (shader_func *main = shader_parser_getfunc(&parser, "main"))
				check_inputs(&parser, main->params.array, main->params.num, problems);
			else
				problems += "no main function\n";
		}
		static const std::map<std::string, std::string> kRenamed = {
		    {"POSITION", "SV_Position"}, {"TARGET", "SV_Target"},         {"texture2d", "Texture2D"},
		    {"texture3d", "Texture3D"},  {"texture_cube", "TextureCube"}, {"sampler_state", "SamplerState"},
		    {"VERTEXID", "SV_VertexID"}};
		out = "static const bool obs_glsl_compile = false;\n\n";
		for (cf_token *token = cf_preprocessor_get_tokens(&parser.cfp.pp); token->type != CFTOKEN_NONE;
		     ++token) {
			const std::string word(token->str.array, token->str.len);
			if (word == "texture_rect")
				problems += "texture_rect is not supported in D3D\n";
			const auto renamed = kRenamed.find(word);
			out += renamed == kRenamed.end() ? word : renamed->second;
		}
	} else {
		problems += "the shader parser refused the text\n";
	}
	shader_parser_free(&parser);
	return problems.empty() ? out : std::string();
}

struct CompileResult {
	bool ok;
	std::string output;
};

CompileResult compile_hlsl(const std::string &hlsl, const char *profile, const std::filesystem::path &file)
{
	std::ofstream(file) << hlsl;
	const std::string command = std::string("'") + VKD3D_COMPILER + "' -x hlsl -b dxbc-tpf -e main -p " + profile +
				    " -o '" + file.string() + ".dxbc' '" + file.string() + "' 2>&1";
	CompileResult result{false, {}};
	FILE *pipe = popen(command.c_str(), "r");
	if (!pipe)
		return {false, "cannot run " + command};
	char buffer[512];
	while (std::fgets(buffer, sizeof(buffer), pipe))
		result.output += buffer;
	const int status = pclose(pipe);
	std::error_code missing;
	const auto size = std::filesystem::file_size(file.string() + ".dxbc", missing);
	result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !missing && size > 0;
	return result;
}

std::filesystem::path scratch_dir()
{
	char pattern[] = "/tmp/mistpane-hlsl-XXXXXX";
	const char *dir = mkdtemp(pattern);
	return dir ? std::filesystem::path(dir) : std::filesystem::path();
}

TEST(Hlsl, EveryTechniqueCompilesForShaderModel4)
{
	ASSERT_TRUE(std::strlen(VKD3D_COMPILER) > 0 && access(VKD3D_COMPILER, X_OK) == 0)
	    << "vkd3d-compiler not found: install it (Debian package vkd3d-compiler)";

	captured.clear();
	obs_enter_graphics();
	capturing = true;
	char *errors = nullptr;
	gs_effect_t *effect = gs_effect_create(board_effect_text, "mistpane-board.effect", &errors);
	capturing = false;
	gs_effect_destroy(effect);
	obs_leave_graphics();
	EXPECT_NE(effect, nullptr) << (errors ? errors : "");
	bfree(errors);

	const std::string text(board_effect_text);
	std::set<std::string> declared;
	static const std::regex technique_decl("technique\\s+(\\w+)");
	for (auto it = std::sregex_iterator(text.begin(), text.end(), technique_decl); it != std::sregex_iterator();
	     ++it)
		declared.insert((*it)[1]);
	ASSERT_FALSE(declared.empty());

	const std::filesystem::path dir = scratch_dir();
	ASSERT_FALSE(dir.empty());
	static const std::regex where("technique (\\w+), pass (\\d+)\\)$");
	std::map<std::string, int> stages;
	bool all_ok = true;
	for (const ShaderText &shader : captured) {
		std::smatch match;
		ASSERT_TRUE(std::regex_search(shader.location, match, where)) << shader.location;
		const std::string technique = match[1];
		++stages[technique];
		SCOPED_TRACE(shader.location);
		std::string problems;
		const std::string hlsl = to_hlsl(shader, problems);
		EXPECT_TRUE(problems.empty()) << problems;
		if (hlsl.empty()) {
			all_ok = false;
			continue;
		}
		const std::filesystem::path file =
		    dir / (technique + "-pass" + std::string(match[2]) + (shader.vertex ? ".vs.hlsl" : ".ps.hlsl"));
		const CompileResult result = compile_hlsl(hlsl, shader.vertex ? "vs_4_0" : "ps_4_0", file);
		EXPECT_TRUE(result.ok) << file.string() << ":\n" << result.output;
		all_ok = all_ok && result.ok;
	}
	for (const std::string &technique : declared)
		EXPECT_GE(stages[technique], 2) << "no vertex and pixel shader seen for " << technique;
	EXPECT_EQ(stages.size(), declared.size());
	// On failure the HLSL stays for a look.
	if (all_ok)
		std::filesystem::remove_all(dir);
	else
		std::printf("HLSL kept in %s\n", dir.c_str());
}

// The check itself must fail where Direct3D would: an HLSL error, and a
// vertex input the backend has no layout for.
TEST(Hlsl, RefusesWhatDirect3DWouldRefuse)
{
	const std::filesystem::path dir = scratch_dir();
	ASSERT_FALSE(dir.empty());
	std::string problems;
	const std::string bad_hlsl = to_hlsl(
	    {"bad (Pixel shader, technique Bad, pass 0)",
	     "float4 main(float4 pos : POSITION) : TARGET\n{\n\treturn float4(pos.xyz, missing_name);\n}\n", false},
	    problems);
	ASSERT_TRUE(problems.empty()) << problems;
	EXPECT_FALSE(compile_hlsl(bad_hlsl, "ps_4_0", dir / "bad.ps.hlsl").ok);

	to_hlsl({"odd (Vertex shader, technique Odd, pass 0)",
		 "float4 main(float4 pos : POSITION, float2 odd : BLENDWEIGHT0) : POSITION\n{\n\treturn pos;\n}\n",
		 true},
		problems);
	EXPECT_NE(problems.find("unknown input semantic BLENDWEIGHT0"), std::string::npos) << problems;
	std::filesystem::remove_all(dir);
}

} // namespace

int main(int argc, char **argv)
{
	return harness::run_tests(argc, argv);
}
