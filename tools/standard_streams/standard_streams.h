/*
 * Keeping the standard streams' descriptors out of a tool's own hands.
 *
 * A program started with descriptor 0, 1 or 2 closed would get that number
 * back from its next open: a device opened then is also "standard output",
 * and every message printed goes into the device (a framebuffer's memory, a
 * panel on the SPI bus). Each tool calls reserve_standard_streams first
 * thing in main.
 */
#ifndef LYRANE_TOOLS_STANDARD_STREAMS_H
#define LYRANE_TOOLS_STANDARD_STREAMS_H

#define STANDARD_INPUT_CLOSED 1u
#define STANDARD_OUTPUT_CLOSED 2u
#define STANDARD_ERROR_CLOSED 4u

/* Puts /dev/null on every closed standard descriptor, opened so that using
 * the stream still fails as on a closed one (standard input write-only,
 * output and error read-only: EBADF). Returns the STANDARD_*_CLOSED bits of
 * the streams that were closed, so that a tool can refuse to read or write
 * them explicitly. Ends the program with status 1 when /dev/null cannot be
 * opened on them: it could then not open anything without the danger above. */
unsigned reserve_standard_streams(void);

#endif
