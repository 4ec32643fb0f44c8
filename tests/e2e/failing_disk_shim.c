/* A failing disk for the real program, loaded with LD_PRELOAD by
 * tests/e2e/failing_disk.sh; never part of the program.
 *
 * Every step that changes a file or folder inside FAILING_DISK_DIR (write,
 * pwrite, ftruncate, fsync, fdatasync, unlink, rename) is counted while the
 * control file FAILING_DISK_CONTROL says
 *     fail N once GENERATION   the N-th step fails with EIO (N = 0: none does)
 *     fail N on GENERATION     the N-th and every later step fail
 * and passes untouched when it says anything else ("heal"). A new generation
 * starts the count again. Each counted step is a line in FAILING_DISK_LOG. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static long g_generation = -1;
static long g_count;

static void *next_symbol(const char *name) { return dlsym(RTLD_NEXT, name); }

static int inside(const char *path) {
    const char *dir = getenv("FAILING_DISK_DIR");
    if (dir == NULL || *dir == 0 || path == NULL) return 0;
    const size_t n = strlen(dir);
    return strncmp(path, dir, n) == 0 && (path[n] == 0 || path[n] == '/');
}

static int fd_path(int fd, char *path, size_t size) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, size - 1);
    if (n <= 0) return 0;
    path[n] = 0;
    return 1;
}

static void log_step(const char *what, const char *path, int fails) {
    static ssize_t (*real_write)(int, const void *, size_t);
    if (real_write == NULL) real_write = (ssize_t(*)(int, const void *, size_t))next_symbol("write");
    const char *file = getenv("FAILING_DISK_LOG");
    if (file == NULL) return;
    const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const char *name = strrchr(path, '/');
    char line[512];
    const int n = snprintf(line, sizeof line, "%s %s%s\n", what, name ? name + 1 : path, fails ? " (fails)" : "");
    if (n > 0) real_write(fd, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
    close(fd);
}

/* Counts a step on path; 1 when it is to fail. */
static int step(const char *what, const char *path) {
    if (!inside(path)) return 0;
    const char *control = getenv("FAILING_DISK_CONTROL");
    FILE *in = control ? fopen(control, "re") : NULL;
    if (in == NULL) return 0;
    char word[16] = "", mode[16] = "";
    long n = 0, generation = 0;
    const int fields = fscanf(in, "%15s %ld %15s %ld", word, &n, mode, &generation);
    fclose(in);
    if (fields != 4 || strcmp(word, "fail") != 0) return 0;
    if (generation != g_generation) {
        g_generation = generation;
        g_count = 0;
    }
    ++g_count;
    const int fails = n > 0 && (g_count == n || (strcmp(mode, "on") == 0 && g_count > n));
    log_step(what, path, fails);
    if (fails) errno = EIO;
    return fails;
}

static int fd_step(const char *what, int fd) {
    char path[4096];
    if (getenv("FAILING_DISK_DIR") == NULL || !fd_path(fd, path, sizeof path)) return 0;
    return step(what, path);
}

ssize_t write(int fd, const void *buffer, size_t size) {
    static ssize_t (*real)(int, const void *, size_t);
    if (real == NULL) real = (ssize_t(*)(int, const void *, size_t))next_symbol("write");
    if (fd > 2 && fd_step("write", fd)) return -1;
    return real(fd, buffer, size);
}

ssize_t pwrite(int fd, const void *buffer, size_t size, off_t offset) {
    static ssize_t (*real)(int, const void *, size_t, off_t);
    if (real == NULL) real = (ssize_t(*)(int, const void *, size_t, off_t))next_symbol("pwrite");
    if (fd_step("write", fd)) return -1;
    return real(fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void *buffer, size_t size, off64_t offset) {
    static ssize_t (*real)(int, const void *, size_t, off64_t);
    if (real == NULL) real = (ssize_t(*)(int, const void *, size_t, off64_t))next_symbol("pwrite64");
    if (fd_step("write", fd)) return -1;
    return real(fd, buffer, size, offset);
}

int ftruncate(int fd, off_t size) {
    static int (*real)(int, off_t);
    if (real == NULL) real = (int (*)(int, off_t))next_symbol("ftruncate");
    if (fd_step("truncate", fd)) return -1;
    return real(fd, size);
}

int ftruncate64(int fd, off64_t size) {
    static int (*real)(int, off64_t);
    if (real == NULL) real = (int (*)(int, off64_t))next_symbol("ftruncate64");
    if (fd_step("truncate", fd)) return -1;
    return real(fd, size);
}

int fsync(int fd) {
    static int (*real)(int);
    if (real == NULL) real = (int (*)(int))next_symbol("fsync");
    if (fd_step("sync", fd)) return -1;
    return real(fd);
}

int fdatasync(int fd) {
    static int (*real)(int);
    if (real == NULL) real = (int (*)(int))next_symbol("fdatasync");
    if (fd_step("sync", fd)) return -1;
    return real(fd);
}

int unlink(const char *path) {
    static int (*real)(const char *);
    if (real == NULL) real = (int (*)(const char *))next_symbol("unlink");
    if (step("delete", path)) return -1;
    return real(path);
}

int rename(const char *from, const char *to) {
    static int (*real)(const char *, const char *);
    if (real == NULL) real = (int (*)(const char *, const char *))next_symbol("rename");
    if (step("rename", to)) return -1;
    return real(from, to);
}
