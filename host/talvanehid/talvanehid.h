/*
 * libtalvanehid: drives the maker's USB I/O board (digital and analogue
 * inputs, digital outputs, LEDs, LED open-circuit detection, codec I/O lines,
 * erase, a generic command channel) through Linux hiddev.
 *
 * Every call is synchronous and works on a descriptor from openHID. The
 * board's reports, with the hiddev report types:
 *   input 1     32 one-byte usages, the digital inputs
 *   input 2     16 usages, the analogue inputs
 *   output 1    one usage per digital output, addressed by usage index
 *   feature 1   48 one-byte usages, the command channel (request and answer)
 * Every usage reference uses field index 0 and usage code 0x00080000.
 *
 * Commands go out as feature report 1: byte 0 = 0x01, byte 1 = command code,
 * then the command's parameters, the rest zero; each call builds its own
 * request. Waiting for an answer sleeps 10 ms, fetches feature report 1
 * and reads usage 0 as the status: 1 or 2 busy (wait again, without a limit
 * on the number of rounds), 3 done, anything else failed.
 *
 * Messages go to standard output: "Can't open <path>: <system error>" from
 * openHID, and "Error: HIDIOCGREPORT", "Error: HIDIOCGUSAGE",
 * "Error: HIDIOCSUSAGE" or "Error: HIDIOCSREPORT" for a failing request.
 *
 * Calls on different descriptors may run concurrently from several threads:
 * the library keeps no state between calls. Calls on one descriptor must
 * not overlap, since a request and its answer share the board's command
 * channel.
 */
#ifndef TALVANEHID_H
#define TALVANEHID_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The device information record getDeviceInfo fills: 2576 bytes, the
 * fields at offsets 0, 4, 8, 10, 12 and 16 (string k at 16 + (k-1) * 256). */
struct talvanehid_device_info {
    uint32_t busnum;
    uint32_t devnum;
    uint16_t vendor;
    uint16_t product;
    int32_t version;       /* the device's 16-bit version, sign-extended */
    char strings[10][256]; /* USB string descriptors 1 to 10 */
};

/* The number of consecutive nodes /dev/usb/hiddev0, 1, 2, ... that open
 * read-write (each is opened and closed again); counting stops at the first
 * that does not, so a gap hides every node above it. 0 when node 0 fails. */
int getHidDeviceCount(void);

/* Opens /dev/usb/hiddev<device_number> read-write. Returns the descriptor,
 * never 0, 1 or 2 (a closed standard stream keeps its number), or prints "Can't open <path>:
 * <system error>" and returns the negated errno. */
int openHID(int device_number);

/* Closes the descriptor: 0, or -1 with errno set. */
int closeHID(int fd);

/* Fills info: the device information, then USB string descriptors 1 to 10.
 * A string that cannot be read leaves its slot as it was; every slot that
 * is written ends with a zero within its 256 bytes (longer strings are cut
 * at 255 bytes). Returns 0, or -1 when the device information cannot be
 * read (info untouched) or info is null. */
int getDeviceInfo(int fd, struct talvanehid_device_info* info);

/* Fetches input report 1 and stores usages 0 to 31 in values[0..31].
 * Returns 1, or 0 on a failed request or a null values (bytes before the
 * failing usage may already be stored). */
int readDigitalIn(int fd, unsigned char* values);

/* Fetches input report 2 and stores usages 0 to 15 in values[0..15].
 * Returns 1 or 0 as readDigitalIn. */
int readAnalogIn(int fd, uint16_t* values);

/* Sets usage <output> of output report 1 to value and sends the report.
 * Returns 1, or 0 on a failed request (an output the board does not have
 * is refused by the kernel). */
int writeDigitalOut(int fd, int output, int value);

/* Sends the erase command (code 0x02 with a fixed confirmation pattern).
 * Returns 1 when sent, 0 on a failed request; no answer is awaited. */
int eraseDevice(int fd);

/* Sends command 0x03 with the three LED bytes, waits for the answer and
 * stores answer bytes 2 and 3 in *answer1 and *answer2. Returns 1 when the
 * status is 3; 0 on another status (nothing stored), on a failed request or
 * when an answer pointer is null (nothing sent). */
int setLEDs(int fd, unsigned char led1, unsigned char led2, unsigned char led3,
            unsigned char* answer1, unsigned char* answer2);

/* Sends command 0x04, waits and stores answer bytes 2 to 7 in
 * detection[0..5]. Returns 1 when the status is 3; 0 on another status,
 * on a failed request or when detection is null (nothing sent). */
int getLedOpenDetection(int fd, unsigned char* detection);

/* Sends command 0x05 with value and waits. Returns 1 when the status is 3,
 * 0 on another status or a failed request. */
int setCodecIO(int fd, unsigned char value);

/* The generic command channel: sends command 0x07 with the command byte,
 * length and length data bytes (only the first length + 4 usages of the
 * request are set), waits, and stores answer byte 2 in answer[0], answer
 * byte 3 (the count n of further bytes) in answer[1] and answer bytes 4 to
 * 3 + n in answer[2..n+1]. answer must hold 46 bytes; nothing is written
 * past them.
 * Returns 0 when the status is 3. Returns -1 at once, sending nothing, when
 * length is negative or above 44, data is null with a positive length, or
 * answer is null; -1 after a failed request, a status other than 3
 * (nothing stored) or a count n above 44 (only answer[0] and answer[1]
 * stored). */
int control(int fd, unsigned char command, const unsigned char* data, int length,
            unsigned char* answer);

#ifdef __cplusplus
}
#endif

#endif
