#pragma once

#include <windows.h>
// windows.h first, then the COM types that the lean windows.h leaves out: GDI+ needs both.
#include <objidl.h>
//
#include <gdiplus.h>

#include <memory>
#include <string>

// The GDI+ pieces the popup needs: text conversion, fonts with a fallback that exists on
// every system, the banner image and GDI+ status texts for the log.
namespace quietway {

// UTF-8 text as UTF-16; text that is not valid UTF-8 is taken in the system code page.
std::wstring utf8_to_wide(const std::string& text);
// A path in the system code page as UTF-16.
std::wstring ansi_to_wide(const std::string& text);

// "Segoe UI" at `points`, regular; where that family is missing (Wine, older Windows) the
// stock GUI font's face at the same size, and failing that the stock GUI font itself. Never
// returns a font that failed to build unless every way failed (then nullptr).
std::unique_ptr<Gdiplus::Font> make_popup_font(HDC dc, float points);
// The same, with the preferred family given (tests use a name no system has).
std::unique_ptr<Gdiplus::Font> make_popup_font(HDC dc, const wchar_t* family, float points);

// The banner image, or nullptr when GDI+ cannot open it (the failure is logged).
std::unique_ptr<Gdiplus::Bitmap> load_banner(const std::string& path);
// The banner as a plain bitmap file, for when GDI+ cannot read it; nullptr when that fails too.
HBITMAP load_plain_bitmap(const std::string& path);

// "Name: description" for a GDI+ status, "INVALID STATUS CODE" for values outside 0 to 21.
const char* gdiplus_status_text(int status);

}  // namespace quietway
