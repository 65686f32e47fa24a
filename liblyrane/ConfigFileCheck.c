/*
 * Follows the @include lines of a libconfig file the way libconfig's scanner
 * reads them, byte for byte:
 * - An include is a line that starts with blanks or tabs, "@include", at
 *   least one blank or tab and a double quote; the name runs to the next
 *   double quote that is not escaped. In the name, \\ stands for a backslash
 *   and \" for a quote; any other backslash is dropped, and the character
 *   after it kept. Within a run of characters between escapes, a NUL byte
 *   ends what is kept of the run.
 * - An included file starts afresh. When a file ends inside an include name,
 *   the name goes on in the file that included it.
 * - Names are opened as they stand, relative to the current directory.
 */
#include "ConfigFileCheck.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

/* libconfig opens includes nested up to this deep and refuses the next. */
#define INCLUDE_DEPTH_LIMIT 10u

typedef enum {
    LINE_START,  /* at the start of a line, or in its leading blanks */
    KEYWORD,     /* matching "@include" */
    KEYWORD_END, /* after "@include", before the first blank */
    GAP,         /* in the blanks before the opening quote */
    OTHER,       /* anywhere else in a line */
    NAME         /* inside an include name */
} ScanState;

typedef struct {
    ScanState state;
    size_t keywordMatched;
    char name[PATH_MAX];
    size_t nameLength;
    int nameTooLong; /* no file can have such a name */
    int escape;      /* the previous name character was a backslash */
    int runCut;      /* a NUL ended what is kept of the current run */
} Scan;

static const char kKeyword[] = "@include";

static int checkFile(const char* path, unsigned depth, Scan* scan);

static int isBlank(int c) {
    return c == ' ' || c == '\t';
}

/* A failed match never starts another one, except at a line's end. */
static ScanState afterMismatch(int c) {
    return c == '\n' ? LINE_START : OTHER;
}

static void startName(Scan* scan) {
    scan->state = NAME;
    scan->nameLength = 0;
    scan->nameTooLong = 0;
    scan->escape = 0;
    scan->runCut = 0;
}

static void appendToName(Scan* scan, char c) {
    if (scan->nameLength + 1 >= sizeof scan->name) {
        scan->nameTooLong = 1;
        return;
    }
    scan->name[scan->nameLength++] = c;
}

/* The include that ends here is checked, and followed, at once: libconfig
 * opens it at this point too. */
static int closeName(Scan* scan, unsigned depth) {
    char target[PATH_MAX];
    if (scan->nameTooLong || depth + 1 > INCLUDE_DEPTH_LIMIT) {
        return 0;
    }
    memcpy(target, scan->name, scan->nameLength);
    target[scan->nameLength] = '\0';
    if (!checkFile(target, depth + 1, scan)) {
        return 0;
    }
    /* Back after the closing quote, unless the included file ended inside
     * a name, which then goes on here. */
    if (scan->state != NAME) {
        scan->state = OTHER;
    }
    return 1;
}

/* 0 when an include closed here fails the check. */
static int scanNameCharacter(Scan* scan, int c, unsigned depth) {
    if (scan->escape) {
        scan->escape = 0;
        scan->runCut = 0;
        if (c == '\\' || c == '"') {
            appendToName(scan, (char)c);
            return 1;
        }
        /* The lone backslash is dropped; c starts a new run. */
    }
    if (c == '\\') {
        scan->escape = 1;
        return 1;
    }
    if (c == '"') {
        return closeName(scan, depth);
    }
    if (c == '\0') {
        scan->runCut = 1;
    } else if (!scan->runCut) {
        appendToName(scan, (char)c);
    }
    return 1;
}

static void scanLineCharacter(Scan* scan, int c) {
    switch (scan->state) {
        case LINE_START:
            if (c == kKeyword[0]) {
                scan->state = KEYWORD;
                scan->keywordMatched = 1;
            } else if (!isBlank(c)) {
                scan->state = afterMismatch(c);
            }
            break;
        case KEYWORD:
            if (c != kKeyword[scan->keywordMatched]) {
                scan->state = afterMismatch(c);
            } else if (++scan->keywordMatched == sizeof kKeyword - 1) {
                scan->state = KEYWORD_END;
            }
            break;
        case KEYWORD_END:
            scan->state = isBlank(c) ? GAP : afterMismatch(c);
            break;
        case GAP:
            if (c == '"') {
                startName(scan);
            } else if (!isBlank(c)) {
                scan->state = afterMismatch(c);
            }
            break;
        case OTHER:
            if (c == '\n') {
                scan->state = LINE_START;
            }
            break;
        case NAME:
            break;
    }
}

static int scanStream(FILE* file, unsigned depth, Scan* scan) {
    int c;
    scan->state = LINE_START;
    while ((c = getc(file)) != EOF) {
        if (scan->state == NAME) {
            if (!scanNameCharacter(scan, c, depth)) {
                return 0;
            }
        } else {
            scanLineCharacter(scan, c);
        }
    }
    /* libconfig matches nothing across the end of a file: a trailing
     * backslash is dropped, and the next file starts a new run. */
    scan->escape = 0;
    scan->runCut = 0;
    return !ferror(file);
}

/* A FIFO would block the open itself, so the type is checked first; fstat
 * afterwards covers a file replaced in between. */
static int checkFile(const char* path, unsigned depth, Scan* scan) {
    struct stat status;
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) {
        return 0;
    }
    FILE* file = fopen(path, "r");
    if (file == NULL) {
        return 0;
    }
    int safe = fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) &&
               scanStream(file, depth, scan);
    fclose(file);
    return safe;
}

int lyraneConfigFileIsSafe(const char* path) {
    /* One scan per call, so concurrent checks share nothing. */
    Scan scan;
    memset(&scan, 0, sizeof scan);
    return path != NULL && checkFile(path, 0, &scan);
}
