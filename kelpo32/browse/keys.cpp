#include "kelpo32/browse/keys.h"

namespace kelpo32::browse {

namespace {

using crt32_pipe::KeyKind;
using crt32_pipe::ScreenKey;

constexpr ScreenKey K(KeyKind kind) {
    return ScreenKey{kind, 0};
}
constexpr ScreenKey C(char32_t c) {
    return ScreenKey{KeyKind::Char, c};
}

constexpr KeyRow Table[] = {
    {Action::Up, {K(KeyKind::Up)}, "the entry above"},
    {Action::Down, {K(KeyKind::Down)}, "the entry below"},
    {Action::PageUp, {K(KeyKind::PageUp)}, "a page up"},
    {Action::PageDown, {K(KeyKind::PageDown)}, "a page down"},
    {Action::First, {K(KeyKind::Home)}, "the first entry"},
    {Action::Last, {K(KeyKind::End)}, "the last entry"},
    {Action::Open, {K(KeyKind::Enter), K(KeyKind::Right)}, "open the directory"},
    {Action::Parent, {K(KeyKind::Left), K(KeyKind::Backspace)}, "back to the parent"},
    {Action::SortBySize, {C('s')}, "sort by size (again: the other way)"},
    {Action::SortByName, {C('n')}, "sort by name (again: the other way)"},
    {Action::SortByFiles, {C('c')}, "sort by the count of files (again: the other way)"},
    {Action::SortByChange,
     {C('C')},
     "sort by the size of the change since the older scan (again: the other way)"},
    {Action::SortByGrowth, {C('G')}, "sort by growth a day (--history; again: the other way)"},
    {Action::GrowthWindow, {C('w')}, "the growth's window: a day, a week, a month"},
    {Action::SizeKind, {C('a')}, "disk usage or apparent size"},
    {Action::ExactSizes, {C('h')}, "human-readable or exact sizes"},
    {Action::Info, {C('i')}, "all that is known of the entry"},
    {Action::Rescan, {C('r')}, "scan the directory shown again"},
    {Action::Delete, {C('d'), K(KeyKind::Delete)}, "delete the entry (asks first)"},
    {Action::Help, {C('?')}, "this help"},
    {Action::Quit, {C('q'), K(KeyKind::Escape), K(KeyKind::Interrupt)}, "quit"},
};

} // namespace

std::span<const KeyRow> KeyTable() {
    return Table;
}

const KeyRow* FindKey(const ScreenKey& key) {
    for (const KeyRow& row : Table)
        for (const ScreenKey& k : row.Keys)
            if (k.Kind != KeyKind::None && k.Kind == key.Kind &&
                (k.Kind != KeyKind::Char || k.Char == key.Char))
                return &row;
    return nullptr;
}

std::string KeyName(const ScreenKey& key) {
    switch (key.Kind) {
    case KeyKind::Up:
        return "Up";
    case KeyKind::Down:
        return "Down";
    case KeyKind::PageUp:
        return "PgUp";
    case KeyKind::PageDown:
        return "PgDn";
    case KeyKind::Home:
        return "Home";
    case KeyKind::End:
        return "End";
    case KeyKind::Enter:
        return "Enter";
    case KeyKind::Left:
        return "Left";
    case KeyKind::Right:
        return "Right";
    case KeyKind::Backspace:
        return "Backspace";
    case KeyKind::Delete:
        return "Delete";
    case KeyKind::Escape:
        return "Esc";
    case KeyKind::Interrupt:
        return "Ctrl+C";
    case KeyKind::Char:
        // The table's keys are ASCII.
        return std::string(1, static_cast<char>(key.Char));
    case KeyKind::None:
    case KeyKind::Resize:
        break;
    }
    return {};
}

std::string KeysOf(const KeyRow& row) {
    std::string text;
    for (const ScreenKey& k : row.Keys) {
        if (k.Kind == KeyKind::None) continue;
        if (!text.empty()) text += ", ";
        text += KeyName(k);
    }
    return text;
}

} // namespace kelpo32::browse
