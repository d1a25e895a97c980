// The browser's view: one directory of the tree on the whole screen, a row
// per entry, a cursor, and the keys of the table (keys.h) that move, open,
// sort, switch what is shown, tell more of an entry, delete it or rescan.
// Platform-free: the screen and the file system are interfaces
// (crt32_pipe::Screen, FileSystem).
#pragma once

#include "crt32_pipe/screen.h"
#include "kelpo32/browse/file_system.h"
#include "kelpo32/browse/growth_view.h"
#include "kelpo32/browse/items.h"
#include "kelpo32/browse/keys.h"
#include "kelpo32/tree/dir_tree.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kelpo32::browse {

class LinkedFiles;

struct ViewSetup {
    std::string Title;      // the program's name and version, first in the header
    std::string Start;      // the start directory as the header shows it
    bool DiskUsage = false; // the tree counts bytes on disk (else apparent sizes)
    bool Compared = false;  // the tree carries an older scan's numbers: the change column
    // Why deletion and rescans are off ("read-only"); empty: as the file
    // system allows.
    std::string Locked;
    bool CountLinks = false;     // every link of a file of several counts (else only the first met)
    bool OtherKindFirst = false; // start with the other size kind, where the tree knows it
    // The older scan of a comparison, matched again into what a rescan finds.
    const tree::DirTree* Older = nullptr;
    tree::DirIndex OlderRoot = tree::NoDir;
    // Where the walk counted the files of several links; nullptr: not known.
    LinkedFiles* Links = nullptr;
    // When the scan began (nanoseconds since 1970; 0: not known).
    std::int64_t ScanStart = 0;
    // A deletion that takes longer than this shows its progress.
    std::chrono::milliseconds Moment{250};
    bool DirectoriesOnly =
        false; // a saved scan that holds no files (JSON Lines): the footer says so
    // The history's growth (--history): a Growth column and chart, G and w.
    GrowthView* Growth = nullptr;
};

// A box over the rows, closed by the next key.
enum class Dialog : std::uint8_t { None, Help, Info, Confirm };

class View {
  public:
    // `root` is the start directory's record; the tree's parents are made.
    View(crt32_pipe::Screen& screen, tree::DirTree& tree, tree::DirIndex root, FileSystem& files,
         ViewSetup setup);
    ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Draws and answers keys until the user quits (q, Esc, Ctrl+C). Keys
    // typed before a dialog was drawn, or while a deletion ran, are thrown
    // away.
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
    // A deletion asked for: the entry, and for a directory the scan did not
    // identify what the browser read of it itself.
    struct Pending {
        Item What;
        bool Read = false;
        Rescanned Found;
    };

    void Load(const std::string& select);
    // The items made afresh, with their growth where the history has it.
    void Collect();
    // A history's growth is on screen (--history with scans to show).
    bool Growing() const { return setup_.Growth != nullptr && setup_.Growth->Active(); }
    // Growing(), else says there is no history; for G and w.
    bool AskGrowth();
    // Orders the items again; `collect`: their numbers are taken afresh first.
    void Resort(bool collect);
    void Do(Action action);
    void Open();
    void Up();
    void Move(std::ptrdiff_t by);
    void SortBy(Order order);
    void SwitchKind();
    void Open(Dialog dialog);
    bool DialogKey(const crt32_pipe::ScreenKey& key);
    void AskDelete();
    void Delete();
    bool Progress(const runtime::RemoveReport& report);
    void Counted(const Item& item, const runtime::DirEntry& entry, const runtime::DirIdentity& id,
                 const Removal& done);
    void Rescan();
    void MatchOlder(Rescanned& again, tree::DirIndex dir);
    std::string Refused() const;
    std::string PathOf(const Item* item) const;
    // Draws every row (and an open box) without showing them.
    void Compose();
    void DrawRows(int first, int last);
    std::string Row(const Item& item, std::int64_t whole, std::size_t sizeWidth,
                    std::size_t changeWidth, std::size_t growthWidth, std::size_t filesWidth,
                    int width) const;
    void DrawDialog();
    void DrawBox(const std::vector<std::string>& lines, crt32_pipe::Attr look, std::size_t first);
    std::vector<std::string> InfoLines() const;
    std::vector<std::string> HelpLines(int inner) const;
    std::vector<std::string> ConfirmLines() const;
    std::string Footer(int width) const;
    std::string Rate(const Item& item) const;
    std::string Size(std::int64_t bytes, bool plus = false) const;
    const runtime::DirEntry* EntryOf(const Item& item) const;

    crt32_pipe::Screen& screen_;
    tree::DirTree& tree_;
    FileSystem& files_;
    ViewSetup setup_;
    LinkedFiles* links_ = nullptr;           // where the files of several links count
    std::unique_ptr<LinkedFiles> rescanned_; // that of a rescan of the start
    std::vector<tree::DirIndex> path_;       // the start directory down to the one shown
    std::vector<runtime::DirEntry> listing_;
    std::string unlisted_; // why the directory on screen could not be listed
    std::vector<Item> items_;
    ItemSettings settings_;
    std::size_t cursor_ = 0;
    std::size_t top_ = 0; // the first item on screen
    bool exact_ = false;  // sizes in exact grouped digits
    Dialog dialog_ = Dialog::None;
    std::size_t helpTop_ = 0;          // the first line of the help shown
    std::unique_ptr<Pending> pending_; // while the question is open
    bool flush_ = false; // throw away the keys typed so far as the next screen is shown
    bool quit_ = false;  // Ctrl+C stopped a deletion: the view ends after it
    std::chrono::steady_clock::time_point started_{}; // of the deletion that runs
    std::chrono::steady_clock::time_point drawn_{};   // its progress last drawn
    std::string deleting_;                            // the path it deletes
    std::string status_; // a message above the footer, until the next key
};

} // namespace kelpo32::browse
