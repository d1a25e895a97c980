#include "kelpo32/export_fields.h"

#include "kelpo32/state.h"
#include "runtime/utf8name.h"

#include <charconv>

namespace kelpo32 {

std::string ExportStartPath() {
    if (StartDir.empty()) return ".";
    std::string path;
    runtime::AppendUtf8Name(path, StartDir, StartNative);
    return path;
}

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, res.ptr);
}

} // namespace kelpo32
