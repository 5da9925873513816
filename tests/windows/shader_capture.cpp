// SPDX-License-Identifier: GPL-2.0-or-later
// Debian 12's Wine compiles HLSL with vkd3d-shader 1.6, which refuses
// libobs's own effects (calls of user functions, the ternary operator), so
// Direct3D 11 cannot even start. libobs-d3d11 keeps compiled shaders in an
// on-disk cache keyed by a hash of their text: this catches each text that
// fails to compile, so that scripts/test-windows.sh can compile it with the
// build root's newer vkd3d-shader (what later Wines use) and place the
// result in that cache. Everything after compiling runs as it would.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "windows/checks.h"

namespace check {

// libobs-d3d11's cache key: FNV-1a over the text's (signed) chars.
uint64_t shader_hash(const char *text, size_t length)
{
	uint64_t hash = 14695981039346656037ULL;
	for (size_t i = 0; i < length; ++i) {
		hash ^= uint64_t(int64_t(text[i]));
		hash *= 1099511628211ULL;
	}
	return hash;
}

// The cache's file: the compiled shader, then the hash of its bytes.
bool write_cache_entry(const std::string &compiled, const std::string &out)
{
	std::ifstream in(compiled, std::ios::binary);
	const std::string code((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	if (code.empty())
		return false;
	const uint64_t checksum = shader_hash(code.data(), code.size());
	std::ofstream file(out, std::ios::binary);
	file.write(code.data(), std::streamsize(code.size()));
	file.write(reinterpret_cast<const char *>(&checksum), sizeof(checksum));
	return bool(file);
}

} // namespace check

#ifdef _WIN32
#include <windows.h>
#include <d3dcompiler.h>

#include <cstring>

namespace check {
namespace {

using Compile = HRESULT(WINAPI *)(LPCVOID, SIZE_T, LPCSTR, const D3D_SHADER_MACRO *, ID3DInclude *, LPCSTR, LPCSTR,
				  UINT, UINT, ID3DBlob **, ID3DBlob **);
Compile real_compile = nullptr;
std::string capture_dir;

HRESULT WINAPI capturing_compile(LPCVOID text, SIZE_T length, LPCSTR name, const D3D_SHADER_MACRO *defines,
				 ID3DInclude *include, LPCSTR entry, LPCSTR target, UINT flags, UINT effect_flags,
				 ID3DBlob **code, ID3DBlob **errors)
{
	const HRESULT result =
	    real_compile(text, length, name, defines, include, entry, target, flags, effect_flags, code, errors);
	if (FAILED(result)) {
		char hash[20];
		std::snprintf(hash, sizeof(hash), "%02llx",
			      (unsigned long long)shader_hash(static_cast<const char *>(text), length));
		std::ofstream(capture_dir + "/" + hash + "." + target + ".hlsl", std::ios::binary)
		    .write(static_cast<const char *>(text), std::streamsize(length));
	}
	return result;
}

// The import address table's slot of a function a module imports by name.
void **import_slot(HMODULE module, const char *dll, const char *function)
{
	auto *base = reinterpret_cast<uint8_t *>(module);
	auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
	auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
	const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
	for (auto *desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); desc->Name; ++desc) {
		if (_stricmp(reinterpret_cast<const char *>(base + desc->Name), dll) != 0)
			continue;
		auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + desc->OriginalFirstThunk);
		auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + desc->FirstThunk);
		for (; names->u1.AddressOfData; ++names, ++slots) {
			if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
				continue;
			auto *by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
			if (std::strcmp(reinterpret_cast<const char *>(by_name->Name), function) == 0)
				return reinterpret_cast<void **>(&slots->u1.Function);
		}
	}
	return nullptr;
}

} // namespace

bool capture_shaders(const std::string &dir)
{
	// os_dlopen later finds the module already loaded under this name.
	HMODULE d3d11 = LoadLibraryW(L"libobs-d3d11.dll");
	void **slot = d3d11 ? import_slot(d3d11, "D3DCOMPILER_47.dll", "D3DCompile") : nullptr;
	if (!slot)
		return false;
	DWORD protection;
	VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
	real_compile = reinterpret_cast<Compile>(*slot);
	*slot = reinterpret_cast<void *>(&capturing_compile);
	VirtualProtect(slot, sizeof(*slot), protection, &protection);
	capture_dir = dir;
	return true;
}

} // namespace check
#else
namespace check {
bool capture_shaders(const std::string &)
{
	return false;
}
} // namespace check
#endif
