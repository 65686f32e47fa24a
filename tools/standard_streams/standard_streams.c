#include "standard_streams.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

unsigned reserve_standard_streams(void) {
    unsigned closed = 0;

    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
        int placeholder;

        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        /* The lower ones are open by now, so the lowest free number is fd. */
        placeholder = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (placeholder != fd) {
            fprintf(stderr, "cannot hold closed descriptor %d with /dev/null\n", fd);
            exit(1);
        }
        closed |= 1u << fd;
    }
    return closed;
}
