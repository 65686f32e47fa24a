// Runs the installed-to-be spipanel program, unchanged, under the fake spidev
// of the fake-device preload library, and reads back what it did.
#ifndef SPIPANEL_RUN_H
#define SPIPANEL_RUN_H

#include <string>
#include <vector>

struct SpipanelRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
    std::vector<std::string> log;  // the fake devices' log, one line each
};

// One transfer as the fake spidev recorded it.
struct SpiTransfer {
    unsigned len, speed_hz, delay_usecs, bits_per_word, cs_change, tx;
};

// Runs spipanel (argv[0] "spipanel") with args. config holds the fake
// devices' configuration lines; sleeps are logged, never slept. Throws
// std::runtime_error when the run cannot be set up.
// A closedStream of 0, 1 or 2 starts it with that descriptor closed.
SpipanelRun runSpipanel(const std::vector<std::string>& args, const std::string& config,
                        int closedStream = -1);

// The transfers of a log, in order.
std::vector<SpiTransfer> transfersIn(const std::vector<std::string>& log);

// The log reduced to what the device saw, in order: "open <path>", the fake's
// "write <what> <n>" and "read <what> <n>", "tx 0x<word>", "short transfer",
// "refused: <reason>" and the core's "sleep <us>" and "close <path>".
std::vector<std::string> eventsIn(const std::vector<std::string>& log);

#endif
