/*
 * Stand-in for the camera processor's ioctl wrappers in the script fuzzer:
 * checks every record the script unit hands over against what its parser
 * promises, counts the calls, and answers like a driver would. A register
 * address or command code 0x0bad fails with EIO so that the failure paths
 * run too.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include "ap0100at_fuzz_stub.h"
#include "ap0100at_ioctl.h"

#define FAILING_ADDRESS 0x0bad

unsigned long ap0100at_stub_calls;
struct ap0100at_access ap0100at_stub_last_access;
int ap0100at_stub_last_is_variable;

static void require(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "ap0100at stub: %s\n", what);
        abort();
    }
}

static void check_access(const struct ap0100at_access* access) {
    int variable = access->mask != 0xffffffffu || access->flags == AP0100AT_ACCESS_32BIT;

    require((access->flags == AP0100AT_ACCESS_8BIT && access->mask == 0xffu) ||
                (access->flags == AP0100AT_ACCESS_16BIT && access->mask == 0xffffu) ||
                (access->flags == AP0100AT_ACCESS_32BIT && access->mask == 0xffffffffu) ||
                (access->flags == AP0100AT_REGISTER_FLAGS && access->mask == 0xffffffffu),
            "flags and mask of no access width");
    /* Page and offset fill the low 15 bits exactly; a variable address
     * without bit 15 means one of them ran over. */
    require(!variable || (access->address & AP0100AT_VARIABLE_BIT), "variable without bit 15");
    ap0100at_stub_calls++;
    ap0100at_stub_last_access = *access;
    ap0100at_stub_last_is_variable = variable;
}

/* Like a driver: -1 with EIO for the failing address, else the read value
 * filled in (when read is set) and the given result. */
static int answer_access(struct ap0100at_access* access, int read, int result) {
    check_access(access);
    if (access->address == FAILING_ADDRESS) {
        errno = EIO;
        return -1;
    }
    if (read)
        access->value = (access->address * 0x10001u) & access->mask;
    return result;
}

int ap0100at_ioctl_write(int fd, struct ap0100at_access* access) {
    (void)fd;
    return answer_access(access, 0, 0);
}

int ap0100at_ioctl_read(int fd, struct ap0100at_access* access) {
    (void)fd;
    return answer_access(access, 1, access->address);
}

int ap0100at_ioctl_read32(int fd, struct ap0100at_access* access) {
    (void)fd;
    return answer_access(access, 1, 0);
}

int ap0100at_ioctl_command(int fd, struct ap0100at_command* command) {
    (void)fd;
    require(command->parameter_count <= AP0100AT_COMMAND_WORDS, "more than 8 parameters");
    require(command->response_count <= AP0100AT_COMMAND_WORDS, "more than 8 response words");
    require(command->reserved == 0 && command->result == 0, "reserved bytes not zero");
    for (uint32_t i = command->parameter_count; i < AP0100AT_COMMAND_WORDS; i++)
        require(command->parameters[i] == 0, "parameter beyond the count not zero");
    for (uint32_t i = 0; i < AP0100AT_COMMAND_WORDS; i++)
        require(command->response[i] == 0, "response word not zero before the call");
    ap0100at_stub_calls++;
    ap0100at_stub_last_is_variable = 0;
    if (command->code == FAILING_ADDRESS) {
        errno = EIO;
        return -1;
    }
    command->result = -(int32_t)command->parameter_count;
    for (uint32_t i = 0; i < command->response_count; i++)
        command->response[i] = (uint16_t)(command->code + i);
    return 0;
}
