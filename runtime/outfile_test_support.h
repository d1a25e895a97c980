// What the tests of the output file share: a folder of their own holding
// FILE in its last version.
#pragma once

#include "runtime/outfile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace runtime {

namespace fs = std::filesystem;

// A folder of its own with FILE in it, holding its last version.
struct Folder {
    fs::path Dir;
    std::string File;

    Folder() {
        Dir = fs::temp_directory_path() / ("kelpo32-outfile-" + outfile::UniquePart());
        fs::create_directory(Dir);
        File = (Dir / "scan.prom").string();
        std::ofstream(File, std::ios::binary) << "old";
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(Dir, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string Content() const {
        std::ifstream in(File, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Temporary files made with names while it lives, as on a file system that
// makes no unnamed ones (every file system on Windows).
struct NamedTemporaries {
    NamedTemporaries() { outfile::AllowUnnamed(false); }
    ~NamedTemporaries() { outfile::AllowUnnamed(true); }
    NamedTemporaries(const NamedTemporaries&) = delete;
    NamedTemporaries& operator=(const NamedTemporaries&) = delete;
};

} // namespace runtime
