/*
 * spipanel: configures a spidev device and sends the initialisation sequence
 * of the device's SPI display panel, one 16-bit word per transfer, printing
 * the settings in force and the words received during each transfer.
 * Exit status 0 on success, 1 on any error; words already sent stay sent.
 */
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <linux/spi/spidev.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "standard_streams.h"

/* The transfer record carries its buffer addresses in 64-bit fields, so the
 * record and the request code made from its size are the same for a 32-bit
 * program on the device and a 64-bit one on a host. */
_Static_assert(sizeof(struct spi_ioc_transfer) == 32, "transfer record is 32 bytes");
_Static_assert(SPI_IOC_MESSAGE(1) == 0x40206b00u, "one-transfer request code");

#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))

/* A word 0x70nn sends command byte nn, a word 0x72nn one parameter byte of
 * the command before it. The panel takes them in exactly this order. */
// clang-format off
static const uint16_t panel_init_words[114] = {
    0x703A, 0x7270,
    0x70B1, 0x720E, 0x723B, 0x720F,
    0x70B2, 0x7200, 0x72C8,
    0x70B3, 0x7200,
    0x70B4, 0x7200,
    0x70B5, 0x7242, 0x7210, 0x7210, 0x7200, 0x7220,
    0x70B6, 0x720B, 0x720F, 0x723C, 0x7213, 0x7213, 0x72E8,
    0x70B7, 0x7246, 0x7206, 0x720C, 0x7200, 0x7200,
    0x70C0, 0x7201, 0x7211,
    0x70C3, 0x7207, 0x7203, 0x7204, 0x7204, 0x7204,
    0x70C4, 0x7212, 0x7224, 0x7218, 0x7218, 0x7202, 0x7249,
    0x70C5, 0x726F,
    0x70C6, 0x7241, 0x7263,
    0x70D0, 0x7203, 0x7207, 0x7273, 0x7235, 0x7200, 0x7201, 0x7220, 0x7200, 0x7203,
    0x70D1, 0x7203, 0x7207, 0x7273, 0x7235, 0x7200, 0x7201, 0x7220, 0x7200, 0x7203,
    0x70D2, 0x7203, 0x7207, 0x7273, 0x7235, 0x7200, 0x7201, 0x7220, 0x7200, 0x7203,
    0x70D3, 0x7203, 0x7207, 0x7273, 0x7235, 0x7200, 0x7201, 0x7220, 0x7200, 0x7203,
    0x70D4, 0x7203, 0x7207, 0x7273, 0x7235, 0x7200, 0x7201, 0x7220, 0x7200, 0x7203,
    0x70D5, 0x7203, 0x7207, 0x7273, 0x7235, 0x7200, 0x7201, 0x7220, 0x7200, 0x7203,
    0x7011,
};
// clang-format on

/* Display on. The panel is still leaving sleep (the last word above) and
 * needs this long before it takes the command. */
static const uint16_t panel_display_on_word = 0x7029;
static const unsigned int panel_wake_seconds = 1;

struct spi_settings {
    const char* device;
    uint8_t mode;
    uint8_t bits_per_word;
    uint32_t speed_hz;
    uint16_t delay_us;
};

/* Zeroed once: a transfer of one word fills only rx[0], and the dump shows
 * rx[1] as it stands. */
static uint16_t rx[2];

static void fail(const char* text) {
    perror(text);
    exit(1);
}

/* Kept word for word, the default device it names and the options it leaves
 * out included: callers match this text. */
static void print_usage(const char* program) {
    printf("Usage: %s [-DsbdlHOLC3]\n", program);
    puts(
        "  -D --device   device to use (default /dev/spidev1.1)\n"
        "  -s --speed    max speed (Hz)\n"
        "  -d --delay    delay (usec)\n"
        "  -b --bpw      bits per word \n"
        "  -l --loop     loopback\n"
        "  -H --cpha     clock phase\n"
        "  -O --cpol     clock polarity\n"
        "  -L --lsb      least significant bit first\n"
        "  -C --cs-high  chip select active high\n"
        "  -3 --3wire    SI/SO signals shared\n");
    exit(1);
}

/* The option's value as a plain decimal number no larger than max; anything
 * else would reach the device as timing the user never asked for. */
static unsigned long parse_decimal(const char* program, const char* what, const char* text,
                                   unsigned long max) {
    unsigned long value;
    char* end;

    errno = 0;
    value = strtoul(text, &end, 10);
    if (text[0] < '0' || text[0] > '9' || *end != '\0' || errno == ERANGE || value > max) {
        fprintf(stderr, "%s: %s \"%s\" is not a decimal number from 0 to %lu\n", program, what,
                text, max);
        exit(1);
    }
    return value;
}

static const struct option long_options[] = {
    {"device", required_argument, NULL, 'D'},
    {"speed", required_argument, NULL, 's'},
    {"delay", required_argument, NULL, 'd'},
    {"bpw", required_argument, NULL, 'b'},
    {"loop", no_argument, NULL, 'l'},
    {"cpha", no_argument, NULL, 'H'},
    {"cpol", no_argument, NULL, 'O'},
    {"lsb", no_argument, NULL, 'L'},
    {"cs-high", no_argument, NULL, 'C'},
    {"3wire", no_argument, NULL, '3'},
    {"no-cs", no_argument, NULL, 'N'},
    {"ready", no_argument, NULL, 'R'},
    {NULL, 0, NULL, 0},
};

static const struct {
    int option;
    uint8_t bit;
} mode_options[] = {
    {'l', SPI_LOOP},    {'H', SPI_CPHA},  {'O', SPI_CPOL},  {'L', SPI_LSB_FIRST},
    {'C', SPI_CS_HIGH}, {'3', SPI_3WIRE}, {'N', SPI_NO_CS}, {'R', SPI_READY},
};

/* The mode bit an option sets, 0 for an option that sets none. */
static uint8_t mode_bit_of(int option) {
    for (size_t i = 0; i < ARRAY_SIZE(mode_options); i++)
        if (mode_options[i].option == option)
            return mode_options[i].bit;
    return 0;
}

static void parse_options(int argc, char* argv[], struct spi_settings* settings) {
    const char* program = argv[0];
    int option;

    while ((option = getopt_long(argc, argv, "D:s:d:b:lHOLC3NR", long_options, NULL)) != -1) {
        switch (option) {
            case 'D':
                settings->device = optarg;
                break;
            case 's':
                settings->speed_hz = parse_decimal(program, "speed", optarg, UINT32_MAX);
                break;
            case 'd':
                settings->delay_us = parse_decimal(program, "delay", optarg, UINT16_MAX);
                break;
            case 'b':
                settings->bits_per_word =
                    parse_decimal(program, "bits per word", optarg, UINT8_MAX);
                break;
            default:
                if (!mode_bit_of(option))
                    print_usage(program);
                settings->mode |= mode_bit_of(option);
                break;
        }
    }
}

/* Writes each setting and reads it back: the controller may round or refuse
 * parts of a request, and what it reports is what the transfers get. */
static void configure(int fd, struct spi_settings* settings) {
    const struct {
        unsigned long write_request, read_request;
        void* value;
        const char *write_failure, *read_failure;
    } steps[] = {
        {SPI_IOC_WR_MODE, SPI_IOC_RD_MODE, &settings->mode, "can't set spi mode",
         "can't get spi mode"},
        {SPI_IOC_WR_BITS_PER_WORD, SPI_IOC_RD_BITS_PER_WORD, &settings->bits_per_word,
         "can't set bits per word", "can't get bits per word"},
        {SPI_IOC_WR_MAX_SPEED_HZ, SPI_IOC_RD_MAX_SPEED_HZ, &settings->speed_hz,
         "can't set max speed hz", "can't get max speed hz"},
    };

    for (size_t i = 0; i < ARRAY_SIZE(steps); i++) {
        if (ioctl(fd, steps[i].write_request, steps[i].value) == -1)
            fail(steps[i].write_failure);
        if (ioctl(fd, steps[i].read_request, steps[i].value) == -1)
            fail(steps[i].read_failure);
    }
}

static void send_word(int fd, const struct spi_settings* settings, uint16_t word) {
    /* The buffer fields are 64 bits wide on every ABI; going through
     * uintptr_t keeps a 32-bit pointer's value intact. */
    struct spi_ioc_transfer transfer = {
        .tx_buf = (uintptr_t)&word,
        .rx_buf = (uintptr_t)rx,
        .len = sizeof word,
        .speed_hz = settings->speed_hz,
        .delay_usecs = settings->delay_us,
        .bits_per_word = settings->bits_per_word,
        .cs_change = 0,
    };
    int sent;

    sent = ioctl(fd, SPI_IOC_MESSAGE(1), &transfer);
    if (sent < 1) {
        /* A transfer that moved nothing leaves errno as it was; say what
         * happened instead of repeating an older error. */
        if (sent == 0)
            errno = EIO;
        fail("can't send spi message");
    }
    printf("\n%.2X %.2X ", rx[0], rx[1]);
}

int main(int argc, char* argv[]) {
    struct spi_settings settings = {
        .device = "/dev/spidev4.0",
        .mode = 0,
        .bits_per_word = 16,
        .speed_hz = 16000,
        .delay_us = 100,
    };
    int fd;

    reserve_standard_streams();
    parse_options(argc, argv, &settings);
    fd = open(settings.device, O_RDWR);
    if (fd < 0)
        fail("can't open device");
    configure(fd, &settings);
    printf("spi mode: %d\n", settings.mode);
    printf("bits per word: %d\n", settings.bits_per_word);
    printf("max speed: %u Hz (%u KHz)\n", settings.speed_hz, settings.speed_hz / 1000);

    for (size_t i = 0; i < ARRAY_SIZE(panel_init_words); i++)
        send_word(fd, &settings, panel_init_words[i]);
    sleep(panel_wake_seconds);
    send_word(fd, &settings, panel_display_on_word);
    printf("\n");
    close(fd);
    return 0;
}
