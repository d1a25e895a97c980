#include "kelpo32/forms.h"

#include "kelpo32/exports.h"
#include "kelpo32/report.h"

#include <algorithm>

namespace kelpo32 {

namespace {

constexpr OutputForm Forms[] = {
    {"text", MakeReport, 0, true, FormBytes::Text, false},
    {"windows", MakeReport, 0, true, FormBytes::Console, false},
    {"json", MakeJsonLinesExport, 'J', false, FormBytes::Utf8, false},
    {"tsv", MakeTsvExport, 0, false, FormBytes::Utf8, false},
    {"ncdu", MakeNcduExport, 0, false, FormBytes::Utf8, true},
};

} // namespace

std::span<const OutputForm> OutputForms() {
    return Forms;
}

const OutputForm* FindForm(std::string_view name) {
    auto it = std::find_if(std::begin(Forms), std::end(Forms),
                           [&](const OutputForm& f) { return f.Name == name; });
    return it == std::end(Forms) ? nullptr : &*it;
}

const OutputForm& DefaultForm() {
    return Forms[0];
}

} // namespace kelpo32
