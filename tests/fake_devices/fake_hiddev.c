/*
 * Fake hiddev node (kind "hiddev"): plays the maker's I/O board. Its reports:
 * input 1 (32 usages), input 2 (16), output 1 ("outputs" usages) and the
 * command channel, feature 1 (48 one-byte usages). Usage references with
 * another report, a field index other than 0, a usage code other than
 * 0x00080000 or a usage past the report are refused with EINVAL.
 *
 * Settings:
 *   devinfo <bustype> <busnum> <devnum> <ifnum> <vendor> <product>
 *           <version> <applications>
 *                         HIDIOCGDEVINFO's answer (absent: all zero)
 *   string<k> <text>      USB string k (1 to 10); without it HIDIOCGSTRING
 *                         for k fails with EINVAL
 *   string<k>_fill <byte> string k is 256 copies of the byte, no zero
 *   input1 <values...>    usages of input report 1 (missing ones are 0)
 *   input2 <values...>    usages of input report 2
 *   outputs <n>           usages of output report 1 (default 16)
 *   status <values...>    what usage 0 of the command channel holds after
 *                         each fetch that follows a sent request: the first
 *                         fetch gets the first value, the last one repeats
 *                         (default 3, done)
 *   answer <bytes...>     usages 2 on of the command channel after a fetch
 *   answer echo           usages 2 on repeat bytes 2 on of the last request
 *                         sent, so a caller can check its own request arrived
 *
 * Log lines: "hiddev GDEVINFO", "hiddev GSTRING <k>",
 * "hiddev GREPORT <type> <id>", "hiddev SREPORT <type> <id>" (for output 1
 * followed by "outputs" and the report's values),
 * "hiddev GUSAGE <type> <id> <usage> -> <value>",
 * "hiddev SUSAGE <type> <id> <usage> = <value>", and
 * "hiddev refused <request> <type> <id> <field> <usage> 0x<code>".
 */
#include <errno.h>
#include <linux/hiddev.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>

#include "fake_core.h"

#define HIDDEV_USAGE_CODE 0x00080000u
#define HIDDEV_MAX_USAGES 64
#define HIDDEV_STRINGS 10
#define HIDDEV_DEFAULT_OUTPUTS 16
#define HIDDEV_MAX_STATUS 256

struct hiddev_report {
    unsigned type, id;
    int usages;
    int values[HIDDEV_MAX_USAGES];
};

struct hiddev_board {
    int ready;
    struct hiddev_report reports[4]; /* input 1, input 2, output 1, feature 1 */
    int status[HIDDEV_MAX_STATUS];
    int n_status;
    int round;    /* fetches of the command channel since the last request */
    int sent[48]; /* the command channel as last sent */
};

/* Blank-separated C numbers of a setting, at most max; how many were read. */
static int hiddev_numbers(const struct fake_node* node, const char* key, int* out, int max) {
    const char* text = fake_node_get(node, key);
    int n = 0;
    char* end;

    while (text && n < max) {
        long value = strtol(text, &end, 0);

        if (end == text)
            break;
        out[n++] = (int)value;
        text = end;
    }
    return n;
}

static void hiddev_setup(struct fake_node* node, struct hiddev_board* board) {
    static const struct {
        unsigned type, id;
        const char* key;
        int usages;
    } layout[4] = {
        {HID_REPORT_TYPE_INPUT, 1, "input1", 32},
        {HID_REPORT_TYPE_INPUT, 2, "input2", 16},
        {HID_REPORT_TYPE_OUTPUT, 1, NULL, HIDDEV_DEFAULT_OUTPUTS},
        {HID_REPORT_TYPE_FEATURE, 1, NULL, 48},
    };
    long long outputs;

    for (int i = 0; i < 4; i++) {
        struct hiddev_report* report = &board->reports[i];

        report->type = layout[i].type;
        report->id = layout[i].id;
        report->usages = layout[i].usages;
        if (layout[i].key)
            hiddev_numbers(node, layout[i].key, report->values, report->usages);
    }
    outputs = fake_node_int(node, "outputs", HIDDEV_DEFAULT_OUTPUTS);
    board->reports[2].usages = outputs >= 0 && outputs <= HIDDEV_MAX_USAGES ? (int)outputs : 0;
    board->n_status = hiddev_numbers(node, "status", board->status, HIDDEV_MAX_STATUS);
    if (board->n_status == 0)
        board->status[board->n_status++] = 3;
    board->ready = 1;
}

static struct hiddev_board* hiddev_board(struct fake_node* node) {
    struct hiddev_board* board = fake_node_state(node, sizeof *board);

    if (!board->ready)
        hiddev_setup(node, board);
    return board;
}

static struct hiddev_report* hiddev_report(struct hiddev_board* board, unsigned type, unsigned id) {
    for (int i = 0; i < 4; i++)
        if (board->reports[i].type == type && board->reports[i].id == id)
            return &board->reports[i];
    return NULL;
}

static int hiddev_refuse(const char* request, unsigned type, unsigned id, unsigned field,
                         unsigned usage, unsigned code) {
    fake_log("hiddev refused %s %u %u %u %u 0x%x", request, type, id, field, usage, code);
    errno = EINVAL;
    return -1;
}

static int hiddev_devinfo(struct fake_node* node, struct hiddev_devinfo* info) {
    int v[8] = {0};

    hiddev_numbers(node, "devinfo", v, 8);
    fake_log("hiddev GDEVINFO");
    memset(info, 0, sizeof *info);
    info->bustype = (unsigned)v[0];
    info->busnum = (unsigned)v[1];
    info->devnum = (unsigned)v[2];
    info->ifnum = (unsigned)v[3];
    info->vendor = (short)v[4];
    info->product = (short)v[5];
    info->version = (short)v[6];
    info->num_applications = (unsigned)v[7];
    return 0;
}

static int hiddev_string(struct fake_node* node, struct hiddev_string_descriptor* string) {
    char key[32];
    const char* text;

    fake_log("hiddev GSTRING %d", string->index);
    snprintf(key, sizeof key, "string%d_fill", string->index);
    if (fake_node_get(node, key)) {
        memset(string->value, (int)fake_node_int(node, key, 0), sizeof string->value);
        return (int)sizeof string->value;
    }
    snprintf(key, sizeof key, "string%d", string->index);
    text = fake_node_get(node, key);
    if (!text) {
        errno = EINVAL;
        return -1;
    }
    snprintf(string->value, sizeof string->value, "%s", text);
    return (int)strlen(string->value);
}

/* A fetch of the command channel after a request is the board's next
 * answer: the scripted status, then the answer bytes. */
static void hiddev_answer(struct fake_node* node, struct hiddev_board* board,
                          struct hiddev_report* channel) {
    int round = board->round < board->n_status ? board->round : board->n_status - 1;
    int answer[46] = {0};

    board->round++;
    if (strcmp(fake_node_get(node, "answer") ? fake_node_get(node, "answer") : "", "echo") == 0)
        for (int i = 0; i < 46; i++)
            answer[i] = board->sent[2 + i];
    else
        hiddev_numbers(node, "answer", answer, 46);
    channel->values[0] = board->status[round];
    channel->values[1] = 0;
    for (int i = 0; i < 46; i++)
        channel->values[2 + i] = answer[i] & 0xff;
}

static void hiddev_log_outputs(const struct hiddev_report* report) {
    char line[1024];
    int used =
        snprintf(line, sizeof line, "hiddev SREPORT %u %u outputs", report->type, report->id);

    for (int i = 0; i < report->usages && used < (int)sizeof line - 16; i++)
        used += snprintf(line + used, sizeof line - (size_t)used, " %d", report->values[i]);
    fake_log("%s", line);
}

static int hiddev_report_request(struct fake_node* node, unsigned long request,
                                 struct hiddev_report_info* info) {
    struct hiddev_board* board = hiddev_board(node);
    struct hiddev_report* report = hiddev_report(board, info->report_type, info->report_id);
    const char* name = request == HIDIOCGREPORT ? "GREPORT" : "SREPORT";

    if (!report)
        return hiddev_refuse(name, info->report_type, info->report_id, 0, 0, 0);
    if (report->type == HID_REPORT_TYPE_OUTPUT && request == HIDIOCSREPORT) {
        hiddev_log_outputs(report);
        return 0;
    }
    fake_log("hiddev %s %u %u", name, report->type, report->id);
    if (report->type == HID_REPORT_TYPE_FEATURE && request == HIDIOCSREPORT) {
        board->round = 0;
        memcpy(board->sent, report->values, sizeof board->sent);
    } else if (report->type == HID_REPORT_TYPE_FEATURE)
        hiddev_answer(node, board, report);
    return 0;
}

static int hiddev_usage_request(struct fake_node* node, unsigned long request,
                                struct hiddev_usage_ref* ref) {
    struct hiddev_board* board = hiddev_board(node);
    struct hiddev_report* report = hiddev_report(board, ref->report_type, ref->report_id);
    const char* name = request == HIDIOCGUSAGE ? "GUSAGE" : "SUSAGE";

    if (!report || ref->field_index != 0 || ref->usage_code != HIDDEV_USAGE_CODE ||
        ref->usage_index >= (unsigned)report->usages)
        return hiddev_refuse(name, ref->report_type, ref->report_id, ref->field_index,
                             ref->usage_index, ref->usage_code);
    if (request == HIDIOCGUSAGE) {
        ref->value = report->values[ref->usage_index];
        fake_log("hiddev GUSAGE %u %u %u -> %d", report->type, report->id, ref->usage_index,
                 ref->value);
    } else {
        report->values[ref->usage_index] = ref->value;
        fake_log("hiddev SUSAGE %u %u %u = %d", report->type, report->id, ref->usage_index,
                 ref->value);
    }
    return 0;
}

static int hiddev_ioctl(struct fake_node* node, unsigned long request, void* arg) {
    switch (request) {
        case HIDIOCGDEVINFO:
            return hiddev_devinfo(node, arg);
        case HIDIOCGSTRING:
            return hiddev_string(node, arg);
        case HIDIOCGREPORT:
        case HIDIOCSREPORT:
            return hiddev_report_request(node, request, arg);
        case HIDIOCGUSAGE:
        case HIDIOCSUSAGE:
            return hiddev_usage_request(node, request, arg);
        default:
            errno = ENOTTY;
            return -1;
    }
}

static const struct fake_device fake_hiddev = {
    .kind = "hiddev",
    .ioctl = hiddev_ioctl,
};
FAKE_DEVICE(fake_hiddev)
