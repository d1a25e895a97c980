#include "kelpo32/browse/walk_screen.h"

#include "kelpo32/browse/text.h"
#include "kelpo32/output/sizes.h"

#include <array>

namespace kelpo32::browse {

using crt32_pipe::Attr;
using crt32_pipe::KeyKind;
using crt32_pipe::Span;

namespace {

constexpr auto Every = std::chrono::milliseconds(100);

} // namespace

void WalkScreen::Draw(std::string_view path) {
    crt32_pipe::Extent size = screen_.Size();
    std::string head = " " + title_ + "  scanning...";
    std::string counts = "  " + Grouped(dirs_) + (dirs_ == 1 ? " directory, " : " directories, ") +
                         Files(files_) + ", " +
                         output::FormatSize(bytes_, output::SizeUnits::Binary) + " so far";
    std::string reading = "  Reading: " + std::string(path);
    std::string hint = "  Esc or q: stop and quit";
    int cols = screen_.Columns(head);
    if (cols < size.X) head.append(static_cast<std::size_t>(size.X - cols), ' ');
    for (int y = 0; y < size.Y; ++y) {
        std::array<Span, 1> row{Span{"", Attr::Normal}};
        if (y == 0) row[0] = Span{head, Attr::Heading};
        if (y == 2) row[0] = Span{counts, Attr::Normal};
        if (y == 3) row[0] = Span{reading, Attr::Normal};
        if (y == 5) row[0] = Span{hint, Attr::Dim};
        screen_.Row(y, row);
    }
    screen_.Show();
}

void WalkScreen::Tick(const walk::WalkDir& dir) {
    Clock::time_point now = Clock::now();
    if (now - drawn_ < Every) return;
    drawn_ = now;
    for (crt32_pipe::ScreenKey key = screen_.PollKey(); key.Kind != KeyKind::None;
         key = screen_.PollKey()) {
        bool quit = key.Kind == KeyKind::Escape || key.Kind == KeyKind::Interrupt ||
                    (key.Kind == KeyKind::Char && (key.Char == 'q' || key.Char == 'Q'));
        if (quit) throw WalkStopped{};
    }
    path_ = dir.Path;
    path_ += dir.Name;
    Draw(path_);
}

void WalkScreen::DirStart(const walk::WalkDir& dir) {
    ++dirs_;
    Tick(dir);
}

void WalkScreen::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    files_ += listing.FileCount;
    bytes_ += listing.FileBytes;
    Tick(dir);
}

} // namespace kelpo32::browse
