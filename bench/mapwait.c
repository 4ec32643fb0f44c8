/* bench_mapwait COMMAND [ARG...]
 *
 * Starts COMMAND and prints the milliseconds from just before its exec until
 * a window of it (by _NET_WM_PID), at least 100 pixels wide, is mapped on the
 * screen; then ends it with SIGTERM. Watches the X server from outside: the
 * program under test needs no change and no option. Exit code 1 when the
 * command dies or shows nothing within 60 s.
 */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static Atom pid_atom;

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1e6;
}

static int ignore_errors(Display *display, XErrorEvent *event) {
    (void)display;
    (void)event;
    return 0; /* a window may be gone by the time it is looked at */
}

static long window_pid(Display *display, Window w) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = NULL;
    long pid = -1;
    if (XGetWindowProperty(display, w, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data != NULL && count == 1 && format == 32) {
        pid = (long)*(unsigned long *)data;
    }
    if (data != NULL) XFree(data);
    return pid;
}

/* The window of pid inside w (w itself, or a child of a frame), or None. */
static Window find_client(Display *display, Window w, pid_t pid, int depth) {
    if (window_pid(display, w) == pid) return w;
    if (depth == 0) return None;
    Window root, parent, *children = NULL, found = None;
    unsigned int n = 0;
    if (!XQueryTree(display, w, &root, &parent, &children, &n)) return None;
    for (unsigned int i = 0; i < n && found == None; ++i) found = find_client(display, children[i], pid, depth - 1);
    if (children != NULL) XFree(children);
    return found;
}

static int viewable_and_wide(Display *display, Window w) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, w, &attributes)) return 0;
    return attributes.map_state == IsViewable && attributes.width >= 100;
}

int main(int argc, char *argv[]) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_mapwait COMMAND [ARG...]\n");
        return 2;
    }
    Display *display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "bench_mapwait: no X display\n");
        return 1;
    }
    XSetErrorHandler(ignore_errors);
    pid_atom = XInternAtom(display, "_NET_WM_PID", False);
    Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double start = now_ms();
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 1;
    }
    if (child == 0) {
        execvp(argv[1], argv + 1);
        perror("exec");
        _exit(127);
    }

    Window watched[64];
    int watched_count = 0;
    double mapped = -1;
    const int fd = ConnectionNumber(display);
    while (mapped < 0) {
        while (XPending(display) > 0 && mapped < 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify) continue;
            /* A top-level (or its frame) appeared, or a client we watch mapped. */
            Window client = find_client(display, event.xmap.window, child, 2);
            if (client == None) continue;
            if (viewable_and_wide(display, client)) {
                mapped = now_ms();
            } else if (watched_count < 64) {
                XSelectInput(display, client, StructureNotifyMask);
                watched[watched_count++] = client;
                if (viewable_and_wide(display, client)) mapped = now_ms();
            }
        }
        if (mapped >= 0) break;
        for (int i = 0; i < watched_count && mapped < 0; ++i) {
            if (viewable_and_wide(display, watched[i])) mapped = now_ms();
        }
        if (mapped >= 0) break;
        int status;
        if (waitpid(child, &status, WNOHANG) == child) {
            fprintf(stderr, "bench_mapwait: %s ended before it showed a window\n", argv[1]);
            return 1;
        }
        if (now_ms() - start > 60000) {
            fprintf(stderr, "bench_mapwait: %s showed no window in 60 s\n", argv[1]);
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return 1;
        }
        fd_set read_set;
        FD_ZERO(&read_set);
        FD_SET(fd, &read_set);
        struct timeval timeout = {0, 20000};
        select(fd + 1, &read_set, NULL, NULL, &timeout);
    }
    printf("%.1f\n", mapped - start);
    fflush(stdout);
    kill(child, SIGTERM);
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    XCloseDisplay(display);
    return 0;
}
