// Prints what Windows reads from an executable's resources, one fact a line:
// the version resource (fixed block, translation, strings), the icon, the
// badge pictures and the manifest (with the DPI awareness it declares). The
// Wine tests compare the lines.
//   resinfo.exe FILE.exe OUT.txt   (UTF-8 text)

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/win32/gdi.h"

namespace {

std::string Utf8(const wchar_t* text) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), std::wcslen(text)));
}

// The text of the first element named name in an XML text, or "none".
std::string ElementText(const std::string& xml, const std::string& name) {
    std::size_t open = xml.find("<" + name);
    // Not an element whose name only starts so (dpiAware, dpiAwareness).
    while (open != std::string::npos && open + name.size() + 1 < xml.size() &&
           std::string(" \t\r\n>/").find(xml[open + name.size() + 1]) == std::string::npos) {
        open = xml.find("<" + name, open + 1);
    }
    if (open == std::string::npos) return "none";
    const std::size_t start = xml.find('>', open);
    const std::size_t end = xml.find("</" + name, open);
    if (start == std::string::npos || end == std::string::npos || end < start) return "none";
    return xml.substr(start + 1, end - start - 1);
}

// A PNG resource: its signature, the size in its header, and its length.
std::string PngResource(HMODULE module, const wchar_t* name) {
    const std::string label = "resource EXEFILE/" + Utf8(name);
    HRSRC png = FindResourceW(module, name, L"EXEFILE");
    if (png == nullptr) return label + " missing";
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module, png)));
    const DWORD length = SizeofResource(module, png);
    const bool signature = bytes != nullptr && length > 24 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G';
    if (!signature) return label + " not png " + std::to_string(length);
    // The IHDR chunk: width and height, big-endian, at bytes 16 and 20.
    const auto word = [bytes](int at) {
        unsigned long value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | bytes[at + i];
        return value;
    };
    return label + " png " + std::to_string(word(16)) + "x" + std::to_string(word(20)) + " " + std::to_string(length);
}

std::string Quad(DWORD high, DWORD low) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(high)),
                  static_cast<unsigned long>(LOWORD(high)), static_cast<unsigned long>(HIWORD(low)),
                  static_cast<unsigned long>(LOWORD(low)));
    return buffer;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: resinfo FILE.exe OUT.txt\n");
        return 2;
    }
    FILE* out = _wfopen(argv[2], L"wb");
    if (out == nullptr) {
        std::fprintf(stderr, "resinfo: cannot write the output file\n");
        return 2;
    }
    const auto line = [out](const std::string& text) { std::fprintf(out, "%s\n", text.c_str()); };

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, block.data())) {
        line("version: none");
    } else {
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
            line("fixed FileVersion " + Quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
            line("fixed ProductVersion " + Quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
        }
        struct Translation {
            WORD language;
            WORD codePage;
        }* translations = nullptr;
        if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                           &length)) {
            for (UINT i = 0; i < length / sizeof(Translation); ++i) {
                char buffer[64];
                std::snprintf(buffer, sizeof buffer, "translation %04X %u", translations[i].language,
                              translations[i].codePage);
                line(buffer);
                wchar_t prefix[64];
                std::swprintf(prefix, 64, L"\\StringFileInfo\\%04X%04X\\", translations[i].language,
                              translations[i].codePage);
                for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                                            L"LegalCopyright", L"OriginalFilename", L"ProductName",
                                            L"ProductVersion"}) {
                    wchar_t* value = nullptr;
                    UINT chars = 0;
                    const std::wstring path = std::wstring(prefix) + name;
                    if (VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars)) {
                        line("string " + Utf8(name) + "=" + (value != nullptr && chars > 0 ? Utf8(value) : ""));
                    } else {
                        line("string " + Utf8(name) + " missing");
                    }
                }
            }
        }
    }

    HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        line("module: cannot load");
    } else {
        HICON icon = static_cast<HICON>(LoadImageW(module, L"MAINICON", IMAGE_ICON, 48, 48, 0));
        ICONINFO info{};
        const bool described = icon != nullptr && GetIconInfo(icon, &info);
        // GetIconInfo makes the two bitmaps for its caller to delete.
        const platform::win32::BitmapHandle colourBitmap(info.hbmColor);
        const platform::win32::BitmapHandle maskBitmap(info.hbmMask);
        BITMAP colour{};
        if (described && colourBitmap && GetObjectW(colourBitmap.get(), sizeof colour, &colour)) {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "icon MAINICON %ldx%ld %u bits", colour.bmWidth, colour.bmHeight,
                          colour.bmBitsPixel);
            line(buffer);
        } else {
            line("icon MAINICON missing");
        }
        if (icon != nullptr) DestroyIcon(icon);

        line(PngResource(module, L"PNG"));
        line(PngResource(module, L"PNG_2X"));

        HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        if (manifest != nullptr) {
            const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
            const std::string text(bytes, SizeofResource(module, manifest));
            line(std::string("manifest common-controls-6 ") +
                 (text.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"") != std::string::npos ? "yes"
                                                                                                            : "no"));
            line(std::string("manifest asInvoker ") +
                 (text.find("level=\"asInvoker\" uiAccess=\"false\"") != std::string::npos ? "yes" : "no"));
            line("manifest dpiAware " + ElementText(text, "dpiAware"));
            line("manifest dpiAwareness " + ElementText(text, "dpiAwareness"));
        } else {
            line("manifest missing");
        }
        FreeLibrary(module);
    }
    std::fclose(out);
    return 0;
}
