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

} // namespace runtime
