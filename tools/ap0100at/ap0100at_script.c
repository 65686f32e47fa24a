#define _GNU_SOURCE
#include "ap0100at_script.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ap0100at_ioctl.h"
#include "standard_streams.h"

#define LINE_DONE 0
#define LINE_FAILED (-1)

#define RUN_WRITE_KEYWORD "write"
/* ap0100at-run takes every line that is not a write for a read and skips
 * this many characters of it, whatever they are. */
#define RUN_READ_KEYWORD_LENGTH 4

#define DEFAULT_WIDTH_BITS 16

struct width {
    unsigned bits;
    uint16_t flags;
    uint32_t mask;
    int hex_digits; /* of a query's value */
};

static const struct width widths[] = {
    {8, AP0100AT_ACCESS_8BIT, 0xffu, 2},
    {16, AP0100AT_ACCESS_16BIT, 0xffffu, 4},
    {32, AP0100AT_ACCESS_32BIT, 0xffffffffu, 8},
};

typedef int (*command_handler)(const struct ap0100at_session* session, const char* arguments);

struct command {
    const char* keyword;
    command_handler handle; /* gets the text after the keyword */
};

static int fail(const struct ap0100at_session* session, const char* message) {
    fputs(message, session->err);
    return LINE_FAILED;
}

/* The text perror would print, on the session's stream. */
static int fail_call(const struct ap0100at_session* session, const char* call) {
    int error = errno;

    fprintf(session->err, "%s: %s\n", call, strerror(error));
    return LINE_FAILED;
}

static const char* skip_space(const char* text) {
    while (isspace((unsigned char)*text))
        text++;
    return text;
}

/* An unsigned C number right at *text, no larger than max; *text moves past
 * it. A sign is refused: strtoull would quietly wrap a negative number. */
static bool read_number(const char** text, unsigned long long max, unsigned long long* value) {
    char* end;

    if (!isdigit((unsigned char)**text))
        return false;
    errno = 0;
    *value = strtoull(*text, &end, 0);
    if (errno == ERANGE || *value > max)
        return false;
    *text = end;
    return true;
}

/* White space, the separator, white space, then a number as read_number. */
static bool read_field(const char** text, char separator, unsigned long long max,
                       unsigned long long* value) {
    const char* at = skip_space(*text);

    if (*at != separator)
        return false;
    at = skip_space(at + 1);
    if (!read_number(&at, max, value))
        return false;
    *text = at;
    return true;
}

/* The width directly after a variable keyword, 16 when there is none.
 * Returns LINE_DONE, or LINE_FAILED after reporting. */
static int read_width(const struct ap0100at_session* session, const char** text,
                      const char* malformed, const struct width** width) {
    unsigned long long bits = DEFAULT_WIDTH_BITS;

    if (isdigit((unsigned char)**text) && !read_number(text, UINT32_MAX, &bits))
        return fail(session, malformed);
    for (size_t i = 0; i < sizeof widths / sizeof widths[0]; i++) {
        if (widths[i].bits == bits) {
            *width = &widths[i];
            return LINE_DONE;
        }
    }
    fprintf(session->err, "bad width %u\n", (unsigned)bits);
    return LINE_FAILED;
}

/* W "=" page "," offset, then "," value when with_value. Returns LINE_DONE,
 * or LINE_FAILED after reporting malformed or a bad width. */
static int read_variable_access(const struct ap0100at_session* session, const char* text,
                                bool with_value, const char* malformed,
                                struct ap0100at_access* access, const struct width** width) {
    unsigned long long page, offset, value = 0;

    if (read_width(session, &text, malformed, width) != LINE_DONE)
        return LINE_FAILED;
    if (!read_field(&text, '=', AP0100AT_PAGE_MAX, &page) ||
        !read_field(&text, ',', AP0100AT_OFFSET_MAX, &offset) ||
        (with_value && !read_field(&text, ',', UINT32_MAX, &value)))
        return fail(session, malformed);
    access->address = (uint16_t)AP0100AT_VARIABLE_ADDRESS(page, offset);
    access->flags = (*width)->flags;
    access->value = (uint32_t)value;
    access->mask = (*width)->mask;
    return LINE_DONE;
}

/* "=" address, then "," value when with_value. */
static int read_register_access(const struct ap0100at_session* session, const char* text,
                                bool with_value, const char* malformed,
                                struct ap0100at_access* access) {
    unsigned long long address, value = 0;

    if (!read_field(&text, '=', UINT16_MAX, &address) ||
        (with_value && !read_field(&text, ',', UINT32_MAX, &value)))
        return fail(session, malformed);
    access->address = (uint16_t)address;
    access->flags = AP0100AT_REGISTER_FLAGS;
    access->value = (uint32_t)value;
    access->mask = AP0100AT_REGISTER_MASK;
    return LINE_DONE;
}

/* N "=" code { "," parameter }. A malformed line fails without a message of
 * its own. */
static int read_command(const struct ap0100at_session* session, const char* text,
                        struct ap0100at_command* command) {
    unsigned long long wanted = 0, code, parameter;
    uint32_t count = 0;

    if (isdigit((unsigned char)*text) && !read_number(&text, UINT32_MAX, &wanted))
        return LINE_FAILED;
    /* The record has room for this many response words and no more. */
    if (wanted > AP0100AT_COMMAND_WORDS) {
        fprintf(session->err, "bad response count %u (at most %d)\n", (unsigned)wanted,
                AP0100AT_COMMAND_WORDS);
        return LINE_FAILED;
    }
    if (!read_field(&text, '=', UINT16_MAX, &code))
        return LINE_FAILED;
    while (*skip_space(text) == ',') {
        if (count == AP0100AT_COMMAND_WORDS)
            return fail(session, "too much parameters\n");
        if (!read_field(&text, ',', UINT16_MAX, &parameter))
            return LINE_FAILED;
        command->parameters[count++] = (uint16_t)parameter;
    }
    command->code = (uint16_t)code;
    command->parameter_count = count;
    command->response_count = (uint32_t)wanted;
    return LINE_DONE;
}

static int skip_comment(const struct ap0100at_session* session, const char* arguments) {
    (void)session;
    (void)arguments;
    return LINE_DONE;
}

static int write_variable(const struct ap0100at_session* session, const char* arguments) {
    struct ap0100at_access access;
    const struct width* width;

    if (read_variable_access(session, arguments, true, "bad 'var' line", &access, &width) !=
        LINE_DONE)
        return LINE_FAILED;
    if (ap0100at_ioctl_write(session->device_fd, &access) < 0)
        return fail_call(session, "ioctl(<AP0100AT_IOCTL_REG_WRITE/VAR>)");
    return LINE_DONE;
}

static int write_register(const struct ap0100at_session* session, const char* arguments) {
    struct ap0100at_access access;

    if (read_register_access(session, arguments, true, "bad 'reg' line\n", &access) != LINE_DONE)
        return LINE_FAILED;
    if (ap0100at_ioctl_write(session->device_fd, &access) < 0)
        return fail_call(session, "ioctl(<AP0100AT_IOCTL_REG_WRITE/REG>)");
    return LINE_DONE;
}

static int host_command(const struct ap0100at_session* session, const char* arguments) {
    struct ap0100at_command command;

    memset(&command, 0, sizeof command);
    if (read_command(session, arguments, &command) != LINE_DONE)
        return LINE_FAILED;
    if (ap0100at_ioctl_command(session->device_fd, &command) < 0)
        return fail_call(session, "ioctl(<AP0100AT_IOCTL_REG_COMMAND>)");
    fprintf(session->out, "CMD %04x => %d [", command.code, command.result);
    for (uint32_t i = 0; i < command.response_count; i++)
        fprintf(session->out, "%s%04x", i == 0 ? "" : ",", command.response[i]);
    fputs("]\n", session->out);
    return LINE_DONE;
}

static int query_variable(const struct ap0100at_session* session, const char* arguments) {
    struct ap0100at_access access;
    const struct width* width;

    if (read_variable_access(session, arguments, false, "bad '?var' line", &access, &width) !=
        LINE_DONE)
        return LINE_FAILED;
    if (ap0100at_ioctl_read32(session->device_fd, &access) < 0)
        return fail_call(session, "ioctl(<AP0100AT_IOCTL_REG_READ32>)");
    fprintf(session->out, "[0x%04x]=0x%0*x (%d)\n", access.address, width->hex_digits, access.value,
            (int)access.value);
    return LINE_DONE;
}

static int query_register(const struct ap0100at_session* session, const char* arguments) {
    struct ap0100at_access access;
    int content;

    if (read_register_access(session, arguments, false, "bad '?reg' line\n", &access) != LINE_DONE)
        return LINE_FAILED;
    content = ap0100at_ioctl_read(session->device_fd, &access);
    if (content < 0)
        return fail_call(session, "ioctl(<AP0100AT_IOCTL_REG_READ>)");
    fprintf(session->out, "[0x%04x]=%04x (%d)\n", access.address, (unsigned)content, content);
    return LINE_DONE;
}

static void print_read(const struct ap0100at_session* session,
                       const struct ap0100at_access* access) {
    fprintf(session->out, "Register: %d value: %d\n", access->address, (int)access->value);
}

static int read_variable(const struct ap0100at_session* session, const char* arguments) {
    struct ap0100at_access access;
    const struct width* width;

    if (read_variable_access(session, arguments, true, "bad 'var' line", &access, &width) !=
        LINE_DONE)
        return LINE_FAILED;
    if (ap0100at_ioctl_read(session->device_fd, &access) < 0)
        return fail_call(session, "ioctl(<AP0100AT_IOCTL_REG_READ/VAR>)");
    print_read(session, &access);
    return LINE_DONE;
}

static int read_register(const struct ap0100at_session* session, const char* arguments) {
    struct ap0100at_access access;

    if (read_register_access(session, arguments, true, "bad 'reg' line\n", &access) != LINE_DONE)
        return LINE_FAILED;
    if (ap0100at_ioctl_read(session->device_fd, &access) < 0)
        return fail_call(session, "ioctl(<AP0100AT_IOCTL_REG_READ/REG>)");
    print_read(session, &access);
    return LINE_DONE;
}

/* No keyword is a prefix of another in the same table. */
static const struct command apply_commands[] = {
    {"#", skip_comment},
    {"?var", query_variable},
    {"?reg", query_register},
    {"var", write_variable},
    {"reg", write_register},
    {"cmd", host_command},
    {NULL, NULL},
};

static const struct command run_write_commands[] = {
    {"var", write_variable},
    {"reg", write_register},
    {"cmd", host_command},
    {NULL, NULL},
};

static const struct command run_read_commands[] = {
    {"var", read_variable},
    {"reg", read_register},
    {NULL, NULL},
};

static int unsupported(const struct ap0100at_session* session, const char* text) {
    fprintf(session->err, "unsupported command '%s'\n", text);
    return LINE_FAILED;
}

static int dispatch(const struct ap0100at_session* session, const struct command* table,
                    const char* text) {
    for (; table->keyword; table++) {
        size_t length = strlen(table->keyword);

        if (strncmp(text, table->keyword, length) == 0)
            return table->handle(session, text + length);
    }
    return unsupported(session, text);
}

static int run_line(const struct ap0100at_session* session, const char* text) {
    const size_t write_length = strlen(RUN_WRITE_KEYWORD);

    if (strncmp(text, RUN_WRITE_KEYWORD, write_length) == 0) {
        text = skip_space(text + write_length);
        fprintf(session->out, "processing write: %s\n", text);
        return dispatch(session, run_write_commands, text);
    }
    /* Skipping the keyword must not run past a shorter line. */
    if (strlen(text) < RUN_READ_KEYWORD_LENGTH)
        return unsupported(session, text);
    text = skip_space(text + RUN_READ_KEYWORD_LENGTH);
    fprintf(session->out, "processing read: %s\n", text);
    return dispatch(session, run_read_commands, text);
}

/* Lower case up to "//", the comment dropped, white space trimmed. */
static char* process_line(char* line) {
    char* comment = strstr(line, "//");
    char* end;

    if (comment)
        *comment = '\0';
    for (char* at = line; *at; at++)
        *at = (char)tolower((unsigned char)*at);
    end = line + strlen(line);
    while (end > line && isspace((unsigned char)end[-1]))
        *--end = '\0';
    return (char*)skip_space(line);
}

int ap0100at_execute_line(const struct ap0100at_session* session, char* line) {
    char* text = process_line(line);
    int status;

    if (*text == '\0')
        return LINE_DONE;
    if (session->dialect == AP0100AT_RUN)
        status = run_line(session, text);
    else
        status = dispatch(session, apply_commands, text);
    /* Output of this line first: a reader watching both streams sees the
     * failure after what succeeded. */
    fflush(session->out);
    if (status != LINE_DONE)
        fprintf(session->err, "failed at line '%s'\n", text);
    return status;
}

int ap0100at_run_script(const struct ap0100at_session* session, FILE* script) {
    char* line = NULL;
    size_t capacity = 0;
    int status = 0;

    while (getline(&line, &capacity, script) >= 0) {
        if (ap0100at_execute_line(session, line) != LINE_DONE) {
            status = 1;
            break;
        }
    }
    if (status == 0 && ferror(script)) {
        fail_call(session, "getline()");
        status = 1;
    }
    free(line);
    return status;
}

static int open_device(const char* path) {
    if (!path) {
        errno = ENOENT;
        return -1;
    }
    return open(path, O_RDWR | O_NOCTTY);
}

int ap0100at_tool_run(enum ap0100at_dialect dialect, const char* device_path,
                      const char* script_path) {
    struct ap0100at_session session = {dialect, -1, stdout, stderr};
    FILE* script = stdin;
    const unsigned closed = reserve_standard_streams();
    int status;

    session.device_fd = open_device(device_path);
    if (session.device_fd < 0) {
        perror("open(<cam>");
        return 1;
    }
    if (script_path || (closed & STANDARD_INPUT_CLOSED)) {
        /* A closed standard input is a script that cannot be opened. */
        errno = EBADF;
        script = script_path ? fopen(script_path, "r") : NULL;
        if (!script) {
            perror("fopen()");
            close(session.device_fd);
            return 1;
        }
    }
    status = ap0100at_run_script(&session, script);
    fclose(script);
    close(session.device_fd);
    return status;
}
