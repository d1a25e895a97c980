#include "runtime/utf8name.h"

#include "runtime/rtl.h"
#include "runtime/win32_support.h"

namespace runtime {

void AppendUtf8Name(std::string& out, std::string_view text, std::string_view native) {
    std::wstring wide = native.empty() ? win32::WideFromOem(text) : win32::WideFromNative(native);
    if (wide.empty()) return;
    int len = CheckedRange<int>(wide.size());
    int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return;
    std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), len, out.data() + at, n, nullptr, nullptr);
}

bool NamesAreBytes() {
    return false;
}

void NameFromUtf8(std::string_view utf8, std::string& text, std::string& native) {
    std::wstring wide;
    if (!utf8.empty()) {
        int len = CheckedRange<int>(utf8.size());
        int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, nullptr, 0);
        if (n > 0) {
            wide.resize(static_cast<std::size_t>(n));
            ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, wide.data(), n);
        }
    }
    text = win32::OemFromWide(wide);
    native = win32::NativeBytes(wide);
}

} // namespace runtime
