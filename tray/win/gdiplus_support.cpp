#include "tray/win/gdiplus_support.h"

#include "common/log/rotating_log.h"

namespace quietway {
namespace {

std::wstring to_wide(const std::string& text, UINT code_page, DWORD flags) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(code_page, flags, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::unique_ptr<Gdiplus::Font> usable(std::unique_ptr<Gdiplus::Font> font) {
    if (font && font->IsAvailable() && font->GetLastStatus() == Gdiplus::Ok) return font;
    return nullptr;
}

}  // namespace

std::wstring utf8_to_wide(const std::string& text) {
    std::wstring wide = to_wide(text, CP_UTF8, MB_ERR_INVALID_CHARS);
    return wide.empty() ? to_wide(text, CP_ACP, 0) : wide;
}

std::wstring ansi_to_wide(const std::string& text) { return to_wide(text, CP_ACP, 0); }

std::unique_ptr<Gdiplus::Font> make_popup_font(HDC dc, const wchar_t* family, float points) {
    Gdiplus::FontFamily preferred(family);
    if (preferred.GetLastStatus() == Gdiplus::Ok) {
        if (auto font = usable(std::make_unique<Gdiplus::Font>(
                &preferred, points, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint))) {
            return font;
        }
    }
    // The generic sans-serif family is null where no such family is installed; the stock GUI
    // font always exists.
    auto* stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW face{};
    if (stock != nullptr && GetObjectW(stock, sizeof(face), &face) == sizeof(face)) {
        face.lfHeight =
            -MulDiv(static_cast<int>(points * 100), GetDeviceCaps(dc, LOGPIXELSY), 7200);
        face.lfWidth = 0;
        HFONT sized = CreateFontIndirectW(&face);
        if (sized != nullptr) {
            auto font = usable(std::make_unique<Gdiplus::Font>(dc, sized));
            DeleteObject(sized);
            if (font) return font;
        }
    }
    if (stock != nullptr) return usable(std::make_unique<Gdiplus::Font>(dc, stock));
    return nullptr;
}

std::unique_ptr<Gdiplus::Font> make_popup_font(HDC dc, float points) {
    return make_popup_font(dc, L"Segoe UI", points);
}

std::unique_ptr<Gdiplus::Bitmap> load_banner(const std::string& path) {
    const std::wstring wide = ansi_to_wide(path);
    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromFile(wide.c_str()));
    const int status = bitmap ? bitmap->GetLastStatus() : Gdiplus::OutOfMemory;
    if (bitmap && status == Gdiplus::Ok) return bitmap;
    log(" Gdiplus::Bitmap::FromFile( %s ): Failed to open: %s", path.c_str(),
        gdiplus_status_text(status));
    return nullptr;
}

HBITMAP load_plain_bitmap(const std::string& path) {
    return static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                           LR_LOADFROMFILE | LR_CREATEDIBSECTION));
}

const char* gdiplus_status_text(int status) {
    static const char* const kTexts[] = {
        "Ok: The method call was successful.",
        "GenericError: There was an error on the method call, which is identified as something "
        "other than those defined by the other elements of this enumeration.",
        "InvalidParameter: One of the arguments passed to the method was not valid.",
        "OutOfMemory: The operating system is out of memory and could not allocate memory to "
        "process the method call.",
        "ObjectBusy: One of the arguments specified in the API call is already in use in "
        "another thread.",
        "InsufficientBuffer: A buffer specified as an argument in the API call is not large "
        "enough to hold the data to be received.",
        "NotImplemented: The method is not implemented.",
        "Win32Error: The method generated a Win32 error.",
        "WrongState: The object is in an invalid state to satisfy the API call.",
        "Aborted: The method was aborted.",
        "FileNotFound: The specified image file or metafile cannot be found.",
        "ValueOverflow: The method performed an arithmetic operation that produced a numeric "
        "overflow.",
        "AccessDenied: A write operation is not allowed on the specified file.",
        "UnknownImageFormat: The specified image file format is not known.",
        "FontFamilyNotFound: The specified font family cannot be found. Either the font family "
        "name is incorrect or the font family is not installed.",
        "FontStyleNotFound: The specified style is not available for the specified font family.",
        "NotTrueTypeFont: The font retrieved from an HDC or LOGFONT is not a TrueType font and "
        "cannot be used with GDI+.",
        "UnsupportedGdiplusVersion: The version of GDI+ that is installed on the system is "
        "incompatible with the version with which the application was compiled.",
        "GdiplusNotInitialized: The GDI+API is not in an initialized state.",
        "PropertyNotFound: The specified property does not exist in the image.",
        "PropertyNotSupported: The specified property is not supported by the format of the "
        "image and, therefore, cannot be set.",
        "ProfileNotFound: The color profile required to save an image in CMYK format was not "
        "found.",
    };
    if (status < 0 || status >= static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]))) {
        return "INVALID STATUS CODE";
    }
    return kTexts[status];
}

}  // namespace quietway
