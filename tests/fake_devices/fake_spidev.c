/*
 * Fake spidev node (kind "spidev"): keeps the mode, bits per word and maximum
 * speed written to it, reports them back the way the configured controller
 * would, and records every transfer instead of clocking it out.
 *
 * Settings:
 *   mode_extra <bits>          mode bits the controller sets of its own in
 *                              every mode it reports
 *   bits_per_word_only <n>     the one word size the controller reports,
 *                              whatever was asked
 *   speed_max <hz>             the controller reports at most this speed
 *   rx <byte...>               bytes the peer answers with, taken in order
 *                              across transfers and starting over at the end;
 *                              absent: the receive buffer is left alone
 *   short_transfer <nth>       the nth message (1-based) moves nothing and
 *                              returns 0
 *
 * A message must hold exactly one record of 2 bytes with buffers this
 * process can address; anything else fails with EINVAL (EFAULT for a
 * buffer address that does not fit a pointer) and logs why.
 *
 * Log lines:
 *   spidev <path> write <mode|bits_per_word|max_speed_hz> <value>
 *   spidev <path> read <mode|bits_per_word|max_speed_hz> <value>
 *   spidev <path> transfer len=<n> speed_hz=<n> delay_usecs=<n>
 *       bits_per_word=<n> cs_change=<n> tx=0x<word>      (one line)
 *   spidev <path> short transfer
 *   spidev <path> refused: <reason>
 */
#include <errno.h>
#include <linux/spi/spidev.h>
#include <stdint.h>
#include <string.h>

#include "fake_core.h"

#define SPIDEV_RX_MAX 64

struct spidev_state {
    uint8_t mode;
    uint8_t bits_per_word;
    uint32_t max_speed_hz;
    long messages;
    size_t rx_next;
};

static void spidev_write_u8(struct fake_node* node, const char* name, uint8_t* field,
                            const void* arg) {
    memcpy(field, arg, sizeof *field);
    fake_log("spidev %s write %s %u", fake_node_path(node), name, *field);
}

static void spidev_read_u8(struct fake_node* node, const char* name, uint8_t value, void* arg) {
    memcpy(arg, &value, sizeof value);
    fake_log("spidev %s read %s %u", fake_node_path(node), name, value);
}

static int spidev_refuse(struct fake_node* node, int err, const char* reason) {
    fake_log("spidev %s refused: %s", fake_node_path(node), reason);
    errno = err;
    return -1;
}

static void spidev_answer(struct fake_node* node, struct spidev_state* state, uint8_t* rx,
                          size_t len) {
    uint8_t bytes[SPIDEV_RX_MAX];
    size_t n = fake_node_bytes(node, "rx", bytes, SPIDEV_RX_MAX);

    if (n == 0 || !rx)
        return;
    for (size_t i = 0; i < len; i++)
        rx[i] = bytes[state->rx_next++ % n];
}

static int spidev_message(struct fake_node* node, struct spidev_state* state, unsigned long request,
                          const struct spi_ioc_transfer* t) {
    uint16_t word;

    if (_IOC_SIZE(request) != sizeof *t)
        return spidev_refuse(node, EINVAL, "not exactly one record");
    if (t->len != 2)
        return spidev_refuse(node, EINVAL, "length is not 2");
    if (t->tx_buf == 0 || t->tx_buf > UINTPTR_MAX || t->rx_buf > UINTPTR_MAX)
        return spidev_refuse(node, EFAULT, "buffer address out of reach");
    if (t->tx_nbits || t->rx_nbits || t->word_delay_usecs || t->pad)
        return spidev_refuse(node, EINVAL, "unused fields not zero");
    if (++state->messages == fake_node_int(node, "short_transfer", 0)) {
        fake_log("spidev %s short transfer", fake_node_path(node));
        return 0;
    }
    memcpy(&word, (const void*)(uintptr_t)t->tx_buf, sizeof word);
    fake_log(
        "spidev %s transfer len=%u speed_hz=%u delay_usecs=%u bits_per_word=%u "
        "cs_change=%u tx=0x%04X",
        fake_node_path(node), t->len, t->speed_hz, t->delay_usecs, t->bits_per_word, t->cs_change,
        word);
    spidev_answer(node, state, (uint8_t*)(uintptr_t)t->rx_buf, t->len);
    return (int)t->len;
}

static int spidev_ioctl(struct fake_node* node, unsigned long request, void* arg) {
    struct spidev_state* state = fake_node_state(node, sizeof *state);
    const char* path = fake_node_path(node);
    uint32_t speed;

    switch (request) {
        case SPI_IOC_WR_MODE:
            spidev_write_u8(node, "mode", &state->mode, arg);
            return 0;
        case SPI_IOC_RD_MODE:
            spidev_read_u8(node, "mode", state->mode | fake_node_int(node, "mode_extra", 0), arg);
            return 0;
        case SPI_IOC_WR_BITS_PER_WORD:
            spidev_write_u8(node, "bits_per_word", &state->bits_per_word, arg);
            return 0;
        case SPI_IOC_RD_BITS_PER_WORD:
            spidev_read_u8(node, "bits_per_word",
                           fake_node_int(node, "bits_per_word_only", state->bits_per_word), arg);
            return 0;
        case SPI_IOC_WR_MAX_SPEED_HZ:
            memcpy(&state->max_speed_hz, arg, sizeof speed);
            fake_log("spidev %s write max_speed_hz %u", path, state->max_speed_hz);
            return 0;
        case SPI_IOC_RD_MAX_SPEED_HZ:
            speed = state->max_speed_hz;
            if (speed > fake_node_int(node, "speed_max", UINT32_MAX))
                speed = fake_node_int(node, "speed_max", UINT32_MAX);
            memcpy(arg, &speed, sizeof speed);
            fake_log("spidev %s read max_speed_hz %u", path, speed);
            return 0;
    }
    if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 &&
        _IOC_DIR(request) == _IOC_WRITE)
        return spidev_message(node, state, request, arg);
    errno = ENOTTY;
    return -1;
}

static const struct fake_device fake_spidev = {
    .kind = "spidev",
    .ioctl = spidev_ioctl,
};
FAKE_DEVICE(fake_spidev)
