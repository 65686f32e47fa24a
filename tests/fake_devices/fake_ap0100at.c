/*
 * Fake AP0100AT camera processor sub-device (kind "ap0100at"). It takes the
 * four private requests of the processor's driver and nothing else (ENOTTY),
 * keeps one 32-bit content per 16-bit address, and decodes the records from
 * their byte offsets, independently of the programs' own declarations.
 *
 *   write    0x400c6121  content[address] = value & mask; result 0
 *   read     0x400c6122  value field = content & mask; result the content
 *                        (its low 31 bits, so that it stays non-negative)
 *   read32   0xc00c6122  value field = content & mask; result 0
 *   command  0xc0306120  result field and the wanted response words from the
 *                        settings; result 0. Fails with EINVAL when a count
 *                        is above 8 or a byte that must be zero is not (the
 *                        pad after the parameters, parameters beyond the
 *                        count, the result and response words).
 *
 * Settings:
 *   content.0x<addr> <value>  initial content of an address, the address as
 *                             four lower-case hex digits (default 0)
 *   command_result <n>        the command's result (default 0)
 *   command_response <w>...   response words 1 to 8 (default 0)
 *
 * Log, before the core's line of the same call:
 *   ap0100at 0x<request> <each byte of the record as received, hex>
 *   ap0100at refused: <reason>     when a command is refused
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fake_core.h"

#define REQUEST_COMMAND 0xc0306120ul
#define REQUEST_WRITE 0x400c6121ul
#define REQUEST_READ 0x400c6122ul
#define REQUEST_READ32 0xc00c6122ul

#define ACCESS_SIZE 12
#define COMMAND_SIZE 48
#define COMMAND_WORDS 8

struct ap0100at_state {
    uint32_t content[0x10000];
    uint8_t written[0x10000];
};

static uint16_t get16(const uint8_t* bytes, size_t at) {
    return (uint16_t)(bytes[at] | bytes[at + 1] << 8);
}

static uint32_t get32(const uint8_t* bytes, size_t at) {
    return (uint32_t)get16(bytes, at) | (uint32_t)get16(bytes, at + 2) << 16;
}

static void put16(uint8_t* bytes, size_t at, uint16_t value) {
    bytes[at] = (uint8_t)value;
    bytes[at + 1] = (uint8_t)(value >> 8);
}

static void put32(uint8_t* bytes, size_t at, uint32_t value) {
    put16(bytes, at, (uint16_t)value);
    put16(bytes, at + 2, (uint16_t)(value >> 16));
}

static void log_record(unsigned long request, const uint8_t* bytes, size_t size) {
    char text[COMMAND_SIZE * 3 + 1];

    for (size_t i = 0; i < size; i++)
        snprintf(text + 3 * i, 4, " %02x", bytes[i]);
    fake_log("ap0100at 0x%lx%s", request, text);
}

static uint32_t content_of(struct fake_node* node, uint16_t address) {
    struct ap0100at_state* state = fake_node_state(node, sizeof *state);
    char key[32];

    if (state->written[address])
        return state->content[address];
    snprintf(key, sizeof key, "content.0x%04x", address);
    return (uint32_t)fake_node_int(node, key, 0);
}

static int access_register(struct fake_node* node, unsigned long request, uint8_t* record) {
    struct ap0100at_state* state = fake_node_state(node, sizeof *state);
    uint16_t address = get16(record, 0);
    uint32_t mask = get32(record, 8);
    uint32_t content;

    log_record(request, record, ACCESS_SIZE);
    if (request == REQUEST_WRITE) {
        state->content[address] = get32(record, 4) & mask;
        state->written[address] = 1;
        return 0;
    }
    content = content_of(node, address);
    put32(record, 4, content & mask);
    return request == REQUEST_READ ? (int)(content & 0x7fffffff) : 0;
}

static const char* command_fault(const uint8_t* record) {
    uint32_t count = get32(record, 20);

    if (count > COMMAND_WORDS)
        return "parameter count above 8";
    if (get32(record, 24) > COMMAND_WORDS)
        return "response count above 8";
    for (size_t at = 2 + 2 * count; at < 20; at++)
        if (record[at] != 0)
            return "reserved byte not zero";
    for (size_t at = 28; at < COMMAND_SIZE; at++)
        if (record[at] != 0)
            return "reserved byte not zero";
    return NULL;
}

static void fill_response(struct fake_node* node, uint8_t* record) {
    const char* words = fake_node_get(node, "command_response");
    uint32_t wanted = get32(record, 24);
    char* end;

    put32(record, 28, (uint32_t)fake_node_int(node, "command_result", 0));
    for (uint32_t i = 0; words && i < wanted; i++) {
        unsigned long word = strtoul(words, &end, 0);

        if (end == words)
            break;
        put16(record, 32 + 2 * i, (uint16_t)word);
        words = end;
    }
}

static int run_command(struct fake_node* node, uint8_t* record) {
    const char* fault;

    log_record(REQUEST_COMMAND, record, COMMAND_SIZE);
    fault = command_fault(record);
    if (fault) {
        fake_log("ap0100at refused: %s", fault);
        errno = EINVAL;
        return -1;
    }
    fill_response(node, record);
    return 0;
}

static int ap0100at_ioctl(struct fake_node* node, unsigned long request, void* arg) {
    switch (request) {
        case REQUEST_WRITE:
        case REQUEST_READ:
        case REQUEST_READ32:
            return access_register(node, request, arg);
        case REQUEST_COMMAND:
            return run_command(node, arg);
        default:
            errno = ENOTTY;
            return -1;
    }
}

static const struct fake_device ap0100at_device = {
    .kind = "ap0100at",
    .ioctl = ap0100at_ioctl,
};
FAKE_DEVICE(ap0100at_device)
