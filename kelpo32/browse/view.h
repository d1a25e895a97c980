// The browser's view: one directory of the tree on the whole screen, a row
// per entry, a cursor, and the keys that move, open, sort, switch what is
// shown, tell more of an entry, delete it or rescan. Platform-free: the
// screen and the file system are interfaces (crt32_pipe::Screen, Place).
#pragma once

#include "crt32_pipe/screen.h"
#include "kelpo32/browse/growth_view.h"
#include "kelpo32/browse/items.h"
#include "kelpo32/browse/place.h"
#include "kelpo32/tree/dir_tree.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kelpo32::browse {

struct ViewSetup {
    std::string Title;      // the program's name and version, first in the header
    std::string Start;      // the start directory as the header shows it
    bool DiskUsage = false; // the tree counts bytes on disk (else apparent sizes)
    bool Compared = false;  // the tree carries an older scan's numbers: the change column
    // Why deletion and rescans are off ("read-only", "saved scan"); empty: on.
    std::string Locked;
    bool CountLinks = false; // every link of a file of several counts (else only the first met)
    // The history's growth (--history): a Growth column and chart, G and w.
    GrowthView* Growth = nullptr;
};

// A box over the rows, closed by the next key.
enum class Dialog : std::uint8_t { None, Help, Info, Confirm };

class View {
  public:
    // `root` is the start directory's record; the tree's parents are made.
    View(crt32_pipe::Screen& screen, tree::DirTree& tree, tree::DirIndex root, Place& place,
         ViewSetup setup);

    // Draws and answers keys until the user quits (q, Esc, Ctrl+C).
    void Run();
    // Answers one key; false when it quits.
    bool Key(crt32_pipe::ScreenKey key);
    // Draws every row and shows them.
    void Draw();

    // For the tests: the directory on screen and the entry under the cursor.
    tree::DirIndex Shown() const { return path_.back(); }
    const std::vector<Item>& Items() const { return items_; }
    std::size_t Cursor() const { return cursor_; }

  private:
    void Load(const std::string& select);
    // The items made afresh, with their growth where the history has it.
    void Collect();
    // Orders the items again; `collect`: their numbers are taken afresh first.
    void Resort(bool collect);
    void Open();
    void Up();
    void Move(std::ptrdiff_t by);
    void SortBy(Order order);
    void AskDelete();
    void Delete();
    void Rescan();
    std::string PathOf(const Item* item) const;
    void DrawRows(int first, int last);
    void DrawDialog();
    std::vector<std::string> InfoLines() const;
    std::vector<std::string> HelpLines() const;
    std::string Footer() const;
    std::string Rate(const Item& item) const;
    std::string Size(std::int64_t bytes, bool plus = false) const;
    const runtime::DirEntry* EntryOf(const Item& item) const;

    crt32_pipe::Screen& screen_;
    tree::DirTree& tree_;
    Place& place_;
    ViewSetup setup_;
    std::vector<tree::DirIndex> path_; // the start directory down to the one shown
    std::vector<runtime::DirEntry> listing_;
    std::string unlisted_; // why the directory on screen could not be listed
    std::vector<Item> items_;
    ItemSettings settings_;
    std::size_t cursor_ = 0;
    std::size_t top_ = 0; // the first item on screen
    bool exact_ = false;  // sizes in exact grouped digits
    Dialog dialog_ = Dialog::None;
    std::string status_; // a message for the footer, until the next key
};

} // namespace kelpo32::browse
