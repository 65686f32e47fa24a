/*
 * Scripts through the script unit of ap0100at-apply and of ap0100at-run,
 * the device replaced by the checking stub: each input once as a whole
 * script (the reading loop, stopping at the first failing line), then line
 * by line in both dialects. Per line, besides the stub's record checks: at
 * most one request, and a variable request carries exactly the page and
 * offset the line names, both inside their bits.
 */
#define _GNU_SOURCE
#include <ctype.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "ap0100at_fuzz_stub.h"
#include "ap0100at_script.h"

static FILE* discard;

static void require(bool condition, const char* what, const char* line) {
    if (!condition) {
        fprintf(stderr, "%s: '%s'\n", what, line);
        abort();
    }
}

static bool number_at(const char** text, unsigned long long* value) {
    char* end;

    while (isspace((unsigned char)**text))
        (*text)++;
    if (!isdigit((unsigned char)**text))
        return false;
    *value = strtoull(*text, &end, 0);
    *text = end;
    return true;
}

/* Page and offset as the line names them: the two numbers after the "="
 * of the first "var" keyword that is followed by a number and "=". A second,
 * simpler reading than the unit's own; false when it finds none. */
static bool named_variable(const char* line, unsigned long long* page, unsigned long long* offset) {
    for (const char* at = line; (at = strcasestr(at, "var")) != NULL; at++) {
        const char* text = at + 3;
        char* after_width;

        if (isdigit((unsigned char)*text)) {
            strtoull(text, &after_width, 0); /* the width, any C number */
            text = after_width;
        }
        while (isspace((unsigned char)*text))
            text++;
        if (*text != '=')
            continue;
        text++;
        if (!number_at(&text, page))
            return false;
        while (isspace((unsigned char)*text))
            text++;
        return *text == ',' && (text++, number_at(&text, offset));
    }
    return false;
}

static void check_variable_request(const char* line) {
    unsigned long long page, offset;
    uint16_t address = ap0100at_stub_last_access.address;

    if (!named_variable(line, &page, &offset))
        return;
    require(page <= 31 && offset <= 0x3ff, "variable outside page or offset bits sent", line);
    require(address == (0x8000 | page << 10 | offset), "variable address not the one named", line);
}

static void run_line(enum ap0100at_dialect dialect, const char* line, size_t length) {
    struct ap0100at_session session = {dialect, -1, discard, discard};
    char* copy = strndup(line, length);
    unsigned long calls_before = ap0100at_stub_calls;

    if (!copy)
        abort();
    ap0100at_execute_line(&session, copy);
    free(copy);
    copy = strndup(line, length);
    if (!copy)
        abort();
    /* What follows "//" never reaches the parser. */
    if (strstr(copy, "//"))
        *strstr(copy, "//") = '\0';
    require(ap0100at_stub_calls - calls_before <= 1, "more than one request for a line", copy);
    if (ap0100at_stub_calls != calls_before && ap0100at_stub_last_is_variable)
        check_variable_request(copy);
    free(copy);
}

static void run_script(enum ap0100at_dialect dialect, const uint8_t* data, size_t size) {
    struct ap0100at_session session = {dialect, -1, discard, discard};
    FILE* script = fmemopen((void*)data, size, "r");

    if (!script)
        abort();
    ap0100at_run_script(&session, script);
    fclose(script);
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = (const char*)data;

    if (size == 0)
        return 0;
    if (!discard) {
        discard = fopen("/dev/null", "w");
        if (!discard)
            abort();
    }
    run_script(AP0100AT_APPLY, data, size);
    run_script(AP0100AT_RUN, data, size);
    for (size_t start = 0; start < size;) {
        const char* newline = memchr(text + start, '\n', size - start);
        size_t length = newline ? (size_t)(newline - text) - start : size - start;

        run_line(AP0100AT_APPLY, text + start, length);
        run_line(AP0100AT_RUN, text + start, length);
        start += length + 1;
    }
    return 0;
}
