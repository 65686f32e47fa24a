/*
 * The script language of ap0100at-apply and ap0100at-run: line handling,
 * number syntax, the commands of both programs and their messages. Device
 * requests go through the wrappers of ap0100at_ioctl.h.
 *
 * A line is lower-cased up to "//" (the rest dropped), trimmed, and skipped
 * when empty; the first line that fails ends the script. Numbers are
 * unsigned C numbers (decimal, 0x hexadecimal, leading 0 octal) and must fit
 * the field they fill; a line with a number that does not is refused before
 * anything reaches the device.
 */
#ifndef AP0100AT_SCRIPT_H
#define AP0100AT_SCRIPT_H

#include <stdio.h>

enum ap0100at_dialect {
    /* Bare commands "var", "reg", "cmd", queries "?var", "?reg", "#" comments. */
    AP0100AT_APPLY,
    /* Lines starting with "write" (then "var", "reg", "cmd") or else a
     * four-character read keyword (then "var", "reg" reads). */
    AP0100AT_RUN,
};

struct ap0100at_session {
    enum ap0100at_dialect dialect;
    int device_fd;
    FILE* out; /* command output and echoes */
    FILE* err; /* failure messages */
};

/* Executes one line as read from the script; the line is processed in place.
 * Returns 0 when the line was done or skipped, -1 when it failed: the
 * specific message (if any) and "failed at line '<processed line>'" have
 * then been written to session->err and nothing after the failure reached
 * the device. */
int ap0100at_execute_line(const struct ap0100at_session* session, char* line);

/* Executes the script's lines in order, each complete before the next is
 * read. Returns 0 at the end of the script, 1 after the first failing line
 * or on a read error (reported as "getline(): <error>"). */
int ap0100at_run_script(const struct ap0100at_session* session, FILE* script);

/* The whole program: opens the device (read-write, never as controlling
 * terminal) and the script (standard input when script_path is NULL), runs
 * it on stdout and stderr, closes both. Closed standard streams are held
 * first (reserve_standard_streams), so the device never takes their place.
 * Returns the exit status: 0 at the end of the script; 1 when the device
 * cannot be opened ("open(<cam>: <error>", also for a NULL device_path), the
 * script cannot be opened ("fopen(): <error>", also for a closed standard
 * input with script_path NULL), or ap0100at_run_script fails. */
int ap0100at_tool_run(enum ap0100at_dialect dialect, const char* device_path,
                      const char* script_path);

#endif
