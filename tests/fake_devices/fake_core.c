/*
 * Core of the fake-device preload library: configuration, the descriptor to
 * node map, failure injection, logging and the interposed C library entries.
 * The contract is in fake_core.h.
 */
#define _GNU_SOURCE
#include "fake_core.h"

#include <ctype.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define FAKE_MAX_DEVICES 16
#define FAKE_MAX_NODES 64
#define FAKE_MAX_SETTINGS 128
#define FAKE_MAX_FAILS 16
#define FAKE_MAX_FDS 4096
#define FAKE_MAX_COUNTS 32

struct fake_setting {
    char* key;
    char* value;
};

struct fake_fail {
    char op[8];
    int err;
    long nth;
    int has_request;
    unsigned long request;
};

struct fake_count {
    unsigned long request;
    long calls;
};

struct fake_node {
    char* path;
    char* kind;
    char* backing;
    const struct fake_device* device;
    struct fake_setting settings[FAKE_MAX_SETTINGS];
    int n_settings;
    struct fake_fail fails[FAKE_MAX_FAILS];
    int n_fails;
    long opens, mmaps, ioctls;
    struct fake_count counts[FAKE_MAX_COUNTS];
    int n_counts;
    void* state;
};

static const struct fake_device* fake_devices[FAKE_MAX_DEVICES];
static int fake_n_devices;
static struct fake_node fake_nodes[FAKE_MAX_NODES];
static int fake_n_nodes;
static struct fake_node* fake_fds[FAKE_MAX_FDS];
/* Path of each descriptor of an ordinary file, kept while "files log" is on. */
static char* fake_file_paths[FAKE_MAX_FDS];
static int fake_log_fd = -1;
static int fake_sleep_log;
static int fake_files_log;
static pthread_once_t fake_symbols_once = PTHREAD_ONCE_INIT;
static pthread_once_t fake_config_once = PTHREAD_ONCE_INIT;
/* Recursive: a device module may call fake_log or fake_node_* from inside an
 * intercepted call that already holds it. */
static pthread_mutex_t fake_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

static int (*real_open)(const char*, int, ...);
static int (*real_openat)(int, const char*, int, ...);
static int (*real_close)(int);
static int (*real_ioctl)(int, unsigned long, ...);
/* mmap64 carries every offset: off_t is 32 bits on the device's ABI. */
static void* (*real_mmap64)(void*, size_t, int, int, int, off64_t);
static int (*real_nanosleep)(const struct timespec*, struct timespec*);
static int (*real_clock_nanosleep)(clockid_t, int, const struct timespec*, struct timespec*);

static const struct {
    const char* name;
    int value;
} fake_errnos[] = {
    {"EPERM", EPERM},         {"ENOENT", ENOENT},
    {"EINTR", EINTR},         {"EIO", EIO},
    {"ENXIO", ENXIO},         {"EBADF", EBADF},
    {"EAGAIN", EAGAIN},       {"ENOMEM", ENOMEM},
    {"EACCES", EACCES},       {"EFAULT", EFAULT},
    {"EBUSY", EBUSY},         {"ENODEV", ENODEV},
    {"EINVAL", EINVAL},       {"ENOTTY", ENOTTY},
    {"ENOSPC", ENOSPC},       {"EPIPE", EPIPE},
    {"ERANGE", ERANGE},       {"ETIMEDOUT", ETIMEDOUT},
    {"EOVERFLOW", EOVERFLOW}, {"ESHUTDOWN", ESHUTDOWN},
};

static const char* fake_errno_name(int err) {
    for (size_t i = 0; i < sizeof fake_errnos / sizeof fake_errnos[0]; i++)
        if (fake_errnos[i].value == err)
            return fake_errnos[i].name;
    return "E?";
}

static int fake_errno_parse(const char* text) {
    for (size_t i = 0; i < sizeof fake_errnos / sizeof fake_errnos[0]; i++)
        if (strcmp(fake_errnos[i].name, text) == 0)
            return fake_errnos[i].value;
    return (int)strtol(text, NULL, 0);
}

static void fake_die(const char* what, const char* detail) {
    fprintf(stderr, "fake devices: %s: %s\n", what, detail);
    abort();
}

static char* fake_strdup(const char* text) {
    char* copy = strdup(text);

    if (!copy)
        fake_die("out of memory", text);
    return copy;
}

void fake_log(const char* fmt, ...) {
    char line[4096];
    va_list ap;
    int n;

    if (fake_log_fd < 0)
        return;
    va_start(ap, fmt);
    n = vsnprintf(line, sizeof line - 1, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if (n > (int)sizeof line - 2)
        n = sizeof line - 2;
    line[n++] = '\n';
    pthread_mutex_lock(&fake_lock);
    if (write(fake_log_fd, line, n) != n)
        fake_die("cannot write the log", strerror(errno));
    pthread_mutex_unlock(&fake_lock);
}

void fake_register_device(const struct fake_device* device) {
    if (fake_n_devices == FAKE_MAX_DEVICES)
        fake_die("too many device kinds", device->kind);
    fake_devices[fake_n_devices++] = device;
}

static const struct fake_device* fake_find_device(const char* kind) {
    for (int i = 0; i < fake_n_devices; i++)
        if (strcmp(fake_devices[i]->kind, kind) == 0)
            return fake_devices[i];
    return NULL;
}

static char* fake_trim(char* text) {
    char* end;

    while (isspace((unsigned char)*text))
        text++;
    end = text + strlen(text);
    while (end > text && isspace((unsigned char)end[-1]))
        *--end = '\0';
    return text;
}

static void fake_parse_fail(struct fake_node* node, char* args) {
    struct fake_fail* fail;
    char* op = strtok(args, " \t");
    char* err = strtok(NULL, " \t");
    char* nth = strtok(NULL, " \t");
    char* request = strtok(NULL, " \t");

    if (!op || !err || strlen(op) >= sizeof fail->op)
        fake_die("bad fail line for", node->path);
    if (node->n_fails == FAKE_MAX_FAILS)
        fake_die("too many fail lines for", node->path);
    fail = &node->fails[node->n_fails++];
    strcpy(fail->op, op);
    fail->err = fake_errno_parse(err);
    fail->nth = nth ? strtol(nth, NULL, 0) : 0;
    fail->has_request = request != NULL;
    fail->request = request ? strtoul(request, NULL, 0) : 0;
}

static void fake_parse_line(char* line, struct fake_node** node) {
    char *key, *rest;

    line = fake_trim(line);
    if (*line == '\0' || *line == '#')
        return;
    key = line;
    rest = line + strcspn(line, " \t");
    if (*rest)
        *rest++ = '\0';
    rest = fake_trim(rest);
    if (strcmp(key, "device") == 0) {
        char* path = strtok(rest, " \t");
        char* kind = strtok(NULL, " \t");

        if (!path || !kind)
            fake_die("bad device line", rest);
        if (fake_n_nodes == FAKE_MAX_NODES)
            fake_die("too many devices", path);
        *node = &fake_nodes[fake_n_nodes++];
        (*node)->path = fake_strdup(path);
        (*node)->kind = fake_strdup(kind);
    } else if (strcmp(key, "sleep") == 0) {
        fake_sleep_log = strcmp(rest, "log") == 0;
    } else if (strcmp(key, "files") == 0) {
        fake_files_log = strcmp(rest, "log") == 0;
    } else if (!*node) {
        fake_die("setting before any device line", key);
    } else if (strcmp(key, "backing") == 0) {
        (*node)->backing = fake_strdup(rest);
    } else if (strcmp(key, "fail") == 0) {
        fake_parse_fail(*node, rest);
    } else {
        struct fake_setting* s;

        if ((*node)->n_settings == FAKE_MAX_SETTINGS)
            fake_die("too many settings for", (*node)->path);
        s = &(*node)->settings[(*node)->n_settings++];
        s->key = fake_strdup(key);
        s->value = fake_strdup(rest);
    }
}

static void* fake_next(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);

    if (!symbol)
        fake_die("no next definition of", name);
    return symbol;
}

static void fake_find_symbols(void) {
    real_open = fake_next("open");
    real_openat = fake_next("openat");
    real_close = fake_next("close");
    real_ioctl = fake_next("ioctl");
    real_mmap64 = fake_next("mmap64");
    real_nanosleep = fake_next("nanosleep");
    real_clock_nanosleep = fake_next("clock_nanosleep");
}

/* The seam's own descriptor moved above 2: a program started with a
 * standard stream closed must get that number from its own next open, as
 * it would without the seam, and never write into the seam's log or close
 * it. */
static int fake_above_standard_streams(int fd) {
    int moved;

    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    real_close(fd);
    return moved;
}

/* Reads FAKE_DEVICES_CONFIG and FAKE_DEVICES_LOG into an empty seam. */
static void fake_configure(void) {
    const char* config = getenv("FAKE_DEVICES_CONFIG");
    const char* log = getenv("FAKE_DEVICES_LOG");
    struct fake_node* node = NULL;
    char line[4096];
    FILE* file;

    if (log && *log) {
        fake_log_fd = fake_above_standard_streams(
            real_open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (fake_log_fd < 0)
            fake_die("cannot open the log", log);
    }
    if (!config || !*config)
        return;
    file = fopen(config, "re");
    if (!file)
        fake_die("cannot read the configuration", config);
    while (fgets(line, sizeof line, file))
        fake_parse_line(line, &node);
    fclose(file);
}

/* Drops every node with its settings and state, and the log. */
static void fake_forget(void) {
    for (int i = 0; i < fake_n_nodes; i++) {
        struct fake_node* node = &fake_nodes[i];

        free(node->path);
        free(node->kind);
        free(node->backing);
        for (int k = 0; k < node->n_settings; k++) {
            free(node->settings[k].key);
            free(node->settings[k].value);
        }
        free(node->state);
        memset(node, 0, sizeof *node);
    }
    fake_n_nodes = 0;
    memset(fake_fds, 0, sizeof fake_fds);
    for (int fd = 0; fd < FAKE_MAX_FDS; fd++) {
        free(fake_file_paths[fd]);
        fake_file_paths[fd] = NULL;
    }
    fake_sleep_log = 0;
    fake_files_log = 0;
    if (fake_log_fd >= 0)
        real_close(fake_log_fd);
    fake_log_fd = -1;
}

/* Every entry needs the C library's own functions. */
static void fake_ready(void) {
    pthread_once(&fake_symbols_once, fake_find_symbols);
}

/* Only the entries that can meet a configured path or setting read the
 * configuration: a sanitizer runtime maps memory before the environment is
 * readable, and a descriptor can only be a node's after an open. */
static void fake_configured(void) {
    fake_ready();
    pthread_once(&fake_config_once, fake_configure);
}

void fake_devices_reload(void) {
    /* The one-time read comes first, so it can never undo this one. */
    fake_configured();
    pthread_mutex_lock(&fake_lock);
    fake_forget();
    fake_configure();
    pthread_mutex_unlock(&fake_lock);
}

const char* fake_node_path(const struct fake_node* node) {
    return node->path;
}

const char* fake_node_get(const struct fake_node* node, const char* key) {
    for (int i = node->n_settings - 1; i >= 0; i--)
        if (strcmp(node->settings[i].key, key) == 0)
            return node->settings[i].value;
    return NULL;
}

long long fake_node_int(const struct fake_node* node, const char* key, long long fallback) {
    const char* value = fake_node_get(node, key);

    return value ? strtoll(value, NULL, 0) : fallback;
}

size_t fake_node_bytes(const struct fake_node* node, const char* key, uint8_t* out, size_t max) {
    const char* value = fake_node_get(node, key);
    size_t n = 0;
    char* end;

    while (value && n < max) {
        unsigned long byte = strtoul(value, &end, 0);

        if (end == value)
            break;
        out[n++] = (uint8_t)byte;
        value = end;
    }
    return n;
}

void* fake_node_state(struct fake_node* node, size_t size) {
    pthread_mutex_lock(&fake_lock);
    if (!node->state) {
        node->state = calloc(1, size);
        if (!node->state)
            fake_die("out of memory for the state of", node->path);
    }
    pthread_mutex_unlock(&fake_lock);
    return node->state;
}

static struct fake_node* fake_node_at(const char* path) {
    if (!path)
        return NULL;
    for (int i = 0; i < fake_n_nodes; i++)
        if (strcmp(fake_nodes[i].path, path) == 0)
            return &fake_nodes[i];
    return NULL;
}

static struct fake_node* fake_node_of(int fd) {
    struct fake_node* node = NULL;

    pthread_mutex_lock(&fake_lock);
    if (fd >= 0 && fd < FAKE_MAX_FDS)
        node = fake_fds[fd];
    pthread_mutex_unlock(&fake_lock);
    return node;
}

static long fake_count_request(struct fake_node* node, unsigned long request) {
    for (int i = 0; i < node->n_counts; i++)
        if (node->counts[i].request == request)
            return ++node->counts[i].calls;
    if (node->n_counts == FAKE_MAX_COUNTS)
        fake_die("too many request codes on", node->path);
    node->counts[node->n_counts].request = request;
    node->counts[node->n_counts].calls = 1;
    return node->counts[node->n_counts++].calls;
}

/* The errno a configured failure gives for this call, 0 for none. calls is
 * the node's count of this operation, request_calls that of the request. */
static int fake_injected(const struct fake_node* node, const char* op, long calls,
                         unsigned long request, long request_calls) {
    for (int i = 0; i < node->n_fails; i++) {
        const struct fake_fail* f = &node->fails[i];

        if (strcmp(f->op, op) != 0)
            continue;
        if (f->has_request && f->request != request)
            continue;
        if (f->nth == 0 || f->nth == (f->has_request ? request_calls : calls))
            return f->err;
    }
    return 0;
}

static int fake_open_node(struct fake_node* node, int flags) {
    int err = 0, fd;

    pthread_mutex_lock(&fake_lock);
    node->opens++;
    /* Resolved here, not while reading the configuration: a sanitizer
     * runtime maps memory, and so reads the configuration, before this
     * library's constructors have registered the device modules. */
    if (!node->device && strcmp(node->kind, "absent") != 0) {
        node->device = fake_find_device(node->kind);
        if (!node->device)
            fake_die("unknown device kind", node->kind);
    }
    if (!node->device)
        err = ENOENT;
    else
        err = fake_injected(node, "open", node->opens, 0, 0);
    if (err) {
        pthread_mutex_unlock(&fake_lock);
        fake_log("open %s -> -1 %s", node->path, fake_errno_name(err));
        errno = err;
        return -1;
    }
    if (node->backing)
        fd = real_open(node->backing, O_RDWR | (flags & O_CLOEXEC));
    else
        fd = memfd_create(node->kind, MFD_CLOEXEC);
    if (fd < 0 || fd >= FAKE_MAX_FDS)
        fake_die("cannot open the backing of", node->path);
    fake_fds[fd] = node;
    pthread_mutex_unlock(&fake_lock);
    if (node->device->open)
        node->device->open(node, fd);
    fake_log("open %s -> %d", node->path, fd);
    return fd;
}

/* An ordinary file, logged like a node when "files log" is on, so that a
 * test can check every descriptor the program opens is closed again. */
static int fake_open_file(int dirfd, const char* path, int flags, mode_t mode) {
    int fd = real_openat(dirfd, path, flags, mode), err = errno;

    if (!fake_files_log)
        return fd;
    if (fd < 0) {
        fake_log("open %s -> -1 %s", path, fake_errno_name(err));
    } else {
        pthread_mutex_lock(&fake_lock);
        if (fd < FAKE_MAX_FDS) {
            free(fake_file_paths[fd]);
            fake_file_paths[fd] = fake_strdup(path);
        }
        pthread_mutex_unlock(&fake_lock);
        fake_log("open %s -> %d", path, fd);
    }
    errno = err;
    return fd;
}

static mode_t fake_mode(int flags, va_list ap) {
    return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, mode_t) : 0;
}

/* open is openat from the current directory. */
static int fake_openat(int dirfd, const char* path, int flags, mode_t mode) {
    struct fake_node* node;

    fake_configured();
    node = fake_node_at(path);
    if (node)
        return fake_open_node(node, flags);
    return fake_open_file(dirfd, path, flags, mode);
}

int open(const char* path, int flags, ...) {
    va_list ap;
    mode_t mode;

    va_start(ap, flags);
    mode = fake_mode(flags, ap);
    va_end(ap);
    return fake_openat(AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    mode_t mode;

    va_start(ap, flags);
    mode = fake_mode(flags, ap);
    va_end(ap);
    return fake_openat(dirfd, path, flags, mode);
}

/* The 64-bit and fortified entries: glibc's headers route calls to these
 * names under _FILE_OFFSET_BITS=64 and _FORTIFY_SOURCE. */
int open64(const char* path, int flags, ...) {
    va_list ap;
    mode_t mode;

    va_start(ap, flags);
    mode = fake_mode(flags, ap);
    va_end(ap);
    return open(path, flags | O_LARGEFILE, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    mode_t mode;

    va_start(ap, flags);
    mode = fake_mode(flags, ap);
    va_end(ap);
    return openat(dirfd, path, flags | O_LARGEFILE, mode);
}

int __open_2(const char* path, int flags) {
    return open(path, flags);
}

int __open64_2(const char* path, int flags) {
    return open(path, flags | O_LARGEFILE);
}

int __openat_2(int dirfd, const char* path, int flags) {
    return openat(dirfd, path, flags);
}

int __openat64_2(int dirfd, const char* path, int flags) {
    return openat(dirfd, path, flags | O_LARGEFILE);
}

int close(int fd) {
    struct fake_node* node;
    char* file = NULL;

    fake_ready();
    node = fake_node_of(fd);
    if (node) {
        pthread_mutex_lock(&fake_lock);
        fake_fds[fd] = NULL;
        pthread_mutex_unlock(&fake_lock);
        fake_log("close %s", node->path);
    } else if (fd >= 0 && fd < FAKE_MAX_FDS) {
        pthread_mutex_lock(&fake_lock);
        file = fake_file_paths[fd];
        fake_file_paths[fd] = NULL;
        pthread_mutex_unlock(&fake_lock);
        if (file)
            fake_log("close %s", file);
        free(file);
    }
    return real_close(fd);
}

int ioctl(int fd, unsigned long request, ...) {
    struct fake_node* node;
    void* arg;
    va_list ap;
    int err, result;
    long calls, request_calls;

    fake_ready();
    va_start(ap, request);
    arg = va_arg(ap, void*);
    va_end(ap);
    node = fake_node_of(fd);
    if (!node)
        return real_ioctl(fd, request, arg);
    pthread_mutex_lock(&fake_lock);
    calls = ++node->ioctls;
    request_calls = fake_count_request(node, request);
    err = fake_injected(node, "ioctl", calls, request, request_calls);
    pthread_mutex_unlock(&fake_lock);
    if (err) {
        fake_log("ioctl %s 0x%lx -> -1 %s", node->path, request, fake_errno_name(err));
        errno = err;
        return -1;
    }
    if (node->device->ioctl) {
        errno = 0;
        result = node->device->ioctl(node, request, arg);
    } else {
        errno = ENOTTY;
        result = -1;
    }
    err = errno;
    if (result < 0)
        fake_log("ioctl %s 0x%lx -> %d %s", node->path, request, result, fake_errno_name(err));
    else
        fake_log("ioctl %s 0x%lx -> %d", node->path, request, result);
    errno = err;
    return result;
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset) {
    struct fake_node* node;
    void* mapped;
    int err;

    fake_ready();
    node = fake_node_of(fd);
    if (!node)
        return real_mmap64(addr, length, prot, flags, fd, offset);
    pthread_mutex_lock(&fake_lock);
    err = fake_injected(node, "mmap", ++node->mmaps, 0, 0);
    pthread_mutex_unlock(&fake_lock);
    if (err) {
        fake_log("mmap %s %zu %lld -> -1 %s", node->path, length, (long long)offset,
                 fake_errno_name(err));
        errno = err;
        return MAP_FAILED;
    }
    mapped = real_mmap64(addr, length, prot, flags, fd, offset);
    err = errno;
    if (mapped == MAP_FAILED)
        fake_log("mmap %s %zu %lld -> -1 %s", node->path, length, (long long)offset,
                 fake_errno_name(err));
    else
        fake_log("mmap %s %zu %lld -> ok", node->path, length, (long long)offset);
    errno = err;
    return mapped;
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    return mmap64(addr, length, prot, flags, fd, offset);
}

static long long fake_microseconds(const struct timespec* t) {
    return (long long)t->tv_sec * 1000000 + t->tv_nsec / 1000;
}

int nanosleep(const struct timespec* request, struct timespec* remaining) {
    fake_configured();
    if (!fake_sleep_log)
        return real_nanosleep(request, remaining);
    fake_log("sleep %lld", fake_microseconds(request));
    return 0;
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request,
                    struct timespec* remaining) {
    fake_configured();
    if (!fake_sleep_log)
        return real_clock_nanosleep(clock, flags, request, remaining);
    fake_log("sleep %lld", fake_microseconds(request));
    return 0;
}

int usleep(useconds_t microseconds) {
    struct timespec t = {microseconds / 1000000, (long)(microseconds % 1000000) * 1000};

    return nanosleep(&t, NULL);
}

unsigned int sleep(unsigned int seconds) {
    struct timespec t = {seconds, 0};

    return nanosleep(&t, NULL) == 0 ? 0 : seconds;
}
