/* Reference walker of the Windows build: the least work one thread can do on
 * Windows to sum a tree's file bytes. The benchmark measures kelpo32.exe
 * against it (under Wine).
 *
 * Per directory: one FindFirstFileExW search over "<dir>\*" by its absolute
 * \\?\ path (basic information, large fetch), FindNextFileW to the end, and a
 * recursive descent into each subdirectory after the search is closed. No
 * identity, no output but the totals.
 *
 * Usage: floor_win32.exe DIR     prints "Directories: D Files: F Total bytes: B"
 * Built with i686-w64-mingw32-gcc -municode.
 */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static uint64_t total_bytes, files, dirs;

/* Names of the subdirectories of one directory, kept while it is searched. */
struct names {
    wchar_t* text;
    size_t len, cap;
};

static void add_name(struct names* n, const wchar_t* name) {
    size_t k = wcslen(name) + 1;
    if (n->len + k > n->cap) {
        n->cap = (n->len + k) * 2;
        n->text = realloc(n->text, n->cap * sizeof(wchar_t));
        if (!n->text) {
            fputs("floor_win32: out of memory\n", stderr);
            exit(2);
        }
    }
    memcpy(n->text + n->len, name, k * sizeof(wchar_t));
    n->len += k;
}

/* `path` holds the directory with a final backslash and room to grow. */
static void walk(wchar_t** path, size_t* cap, size_t len) {
    struct names subs = {0};
    WIN32_FIND_DATAW d;
    HANDLE h;
    ++dirs;
    (*path)[len] = L'*';
    (*path)[len + 1] = 0;
    h = FindFirstFileExW(*path, FindExInfoBasic, &d, FindExSearchNameMatch, NULL,
                         FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const wchar_t* n = d.cFileName;
        if (n[0] == L'.' && (!n[1] || (n[1] == L'.' && !n[2]))) continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            add_name(&subs, n);
        } else {
            ++files;
            total_bytes += ((uint64_t)d.nFileSizeHigh << 32) | d.nFileSizeLow;
        }
    } while (FindNextFileW(h, &d));
    FindClose(h);
    for (size_t at = 0; at < subs.len;) {
        size_t k = wcslen(subs.text + at);
        if (len + k + 3 > *cap) {
            *cap = (len + k + 3) * 2;
            *path = realloc(*path, *cap * sizeof(wchar_t));
            if (!*path) {
                fputs("floor_win32: out of memory\n", stderr);
                exit(2);
            }
        }
        memcpy(*path + len, subs.text + at, k * sizeof(wchar_t));
        (*path)[len + k] = L'\\';
        walk(path, cap, len + k + 1);
        at += k + 1;
    }
    free(subs.text);
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fputs("usage: floor_win32 DIR\n", stderr);
        return 2;
    }
    DWORD n = GetFullPathNameW(argv[1], 0, NULL, NULL);
    size_t cap = n + 4096;
    wchar_t* path = malloc(cap * sizeof(wchar_t));
    if (!n || !path) return 2;
    wcscpy(path, L"\\\\?\\");
    GetFullPathNameW(argv[1], n, path + 4, NULL);
    size_t len = wcslen(path);
    if (path[len - 1] != L'\\') path[len++] = L'\\';
    walk(&path, &cap, len);
    printf("Directories: %llu Files: %llu Total bytes: %llu\n", (unsigned long long)dirs,
           (unsigned long long)files, (unsigned long long)total_bytes);
    free(path);
    return 0;
}
