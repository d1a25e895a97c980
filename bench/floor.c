/* Reference walker: the least work one thread can do to list a tree with
 * file counts and byte sums. The benchmark measures every other program
 * against this one.
 *
 * Per directory: open(O_DIRECTORY) by full path, getdents64 into a large
 * buffer, no stat for entries whose d_type is DT_DIR, fstatat relative to
 * the open directory for the rest (and for DT_UNKNOWN), close before
 * descending. Only the names of subdirectories still to visit are kept.
 * Output: one line per directory and one per subtree total, through a
 * single write buffer, then the grand totals.
 *
 * Usage: floor DIR                  (report on stdout)
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

enum { DENTS_BUF = 256 * 1024, OUT_BUF = 64 * 1024 };

static char dents[DENTS_BUF];

/* ---- buffered output ---- */
static char out[OUT_BUF];
static size_t out_len;

static void write_all(const char* s, size_t n) {
    while (n) {
        ssize_t w = write(1, s, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            perror("floor: write");
            exit(2);
        }
        s += w;
        n -= (size_t)w;
    }
}

static void out_flush(void) {
    write_all(out, out_len);
    out_len = 0;
}

static void out_mem(const char* s, size_t n) {
    if (out_len + n > OUT_BUF) {
        out_flush();
        if (n > OUT_BUF) {
            write_all(s, n);
            return;
        }
    }
    memcpy(out + out_len, s, n);
    out_len += n;
}

static void out_u64(uint64_t v) {
    char tmp[24];
    int i = sizeof tmp;
    do {
        tmp[--i] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    out_mem(tmp + i, sizeof tmp - (size_t)i);
}

/* ---- pending subdirectory names: one stack shared by all levels ---- */
static char* names;
static size_t names_len, names_cap;

static void names_push(const char* s, size_t n) {
    if (names_len + n + 1 > names_cap) {
        size_t cap = names_cap ? names_cap * 2 : 64 * 1024;
        while (cap < names_len + n + 1)
            cap *= 2;
        char* p = realloc(names, cap);
        if (!p) {
            perror("floor: realloc");
            exit(2);
        }
        names = p;
        names_cap = cap;
    }
    memcpy(names + names_len, s, n + 1);
    names_len += n + 1;
}

/* ---- the walk ---- */
static char path[8192];
static uint64_t total_files, total_bytes, total_dirs, errors;

struct sums {
    uint64_t files, bytes;
};

/* Walks the directory whose path is path[0..len); returns the subtree sums. */
static struct sums walk(size_t len) {
    struct sums own = {0, 0};
    size_t first = names_len;
    size_t nsub = 0;

    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "floor: %s: %s\n", path, strerror(errno));
        errors++;
        return own;
    }
    for (;;) {
        long n = syscall(SYS_getdents64, fd, dents, sizeof dents);
        if (n <= 0) {
            if (n < 0) {
                fprintf(stderr, "floor: %s: %s\n", path, strerror(errno));
                errors++;
            }
            break;
        }
        for (long off = 0; off < n;) {
            struct linux_dirent64* d = (struct linux_dirent64*)(dents + off);
            off += d->d_reclen;
            const char* nm = d->d_name;
            if (nm[0] == '.' && (nm[1] == 0 || (nm[1] == '.' && nm[2] == 0))) continue;
            int is_dir = d->d_type == DT_DIR;
            if (!is_dir) {
                struct stat st;
                if (fstatat(fd, nm, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    fprintf(stderr, "floor: %s%s: %s\n", path, nm, strerror(errno));
                    errors++;
                    continue;
                }
                if (d->d_type == DT_UNKNOWN && S_ISDIR(st.st_mode)) {
                    is_dir = 1;
                } else {
                    own.files++;
                    own.bytes += (uint64_t)st.st_size;
                }
            }
            if (is_dir) {
                names_push(nm, strlen(nm));
                nsub++;
            }
        }
    }
    close(fd);

    total_dirs++;
    total_files += own.files;
    total_bytes += own.bytes;
    out_mem(path, len);
    out_mem(" ", 1);
    out_u64(own.files);
    out_mem(" files ", 7);
    out_u64(own.bytes);
    out_mem(" bytes\n", 7);

    struct sums sub = own;
    size_t at = first;
    for (size_t i = 0; i < nsub; i++) {
        const char* nm = names + at;
        size_t n = strlen(nm);
        at += n + 1;
        if (len + n + 2 > sizeof path) {
            fprintf(stderr, "floor: path too long below %s\n", path);
            errors++;
            continue;
        }
        memcpy(path + len, nm, n);
        path[len + n] = '/';
        path[len + n + 1] = 0;
        /* names may move when a deeper level grows the stack: keep offsets */
        struct sums s = walk(len + n + 1);
        sub.files += s.files;
        sub.bytes += s.bytes;
    }
    names_len = first;
    path[len] = 0;

    if (nsub) {
        out_mem(path, len);
        out_mem(" total ", 7);
        out_u64(sub.files);
        out_mem(" files ", 7);
        out_u64(sub.bytes);
        out_mem(" bytes\n", 7);
    }
    return sub;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: floor DIR\n");
        return 2;
    }
    size_t len = strlen(argv[1]);
    if (len + 2 > sizeof path) {
        fprintf(stderr, "floor: path too long\n");
        return 2;
    }
    memcpy(path, argv[1], len + 1);
    if (len == 0 || path[len - 1] != '/') {
        path[len++] = '/';
        path[len] = 0;
    }
    walk(len);
    out_mem("Total directories: ", 19);
    out_u64(total_dirs);
    out_mem("\nTotal files: ", 14);
    out_u64(total_files);
    out_mem("\nTotal bytes: ", 14);
    out_u64(total_bytes);
    out_mem("\n", 1);
    out_flush();
    return errors ? 1 : 0;
}
