/*
 * libkeylisten: reads key events from one Linux input device through
 * libevdev and hands each key press and release to the application's
 * callback, with a logging callback for the library's own messages.
 *
 * One listener per process. The event loop runs on the thread that calls
 * registerCallback (or run); the callbacks run on that thread too. stop may
 * be called from any other thread.
 *
 * Log records, each a call logger(level, message) with level "INFO" or
 * "DEBUG":
 *   DEBUG "Start native keyboard listener" and "Exit native keyboard
 *         listener" around every run started by registerCallback;
 *   INFO  "Failed to open device", "Failed to init libevdev",
 *         "Sync events" (the kernel dropped events; one per event replayed
 *         to bring the state up to date), "Failed to handle events";
 *   DEBUG the system error text after "Failed to init libevdev" and
 *         "Failed to handle events".
 * A null callback or logger is simply not called.
 */
#ifndef KEYLISTEN_H
#define KEYLISTEN_H

#include <linux/input.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Path of the input device run opens; registerCallback sets it. */
extern const char* file;

/* The loop flag: 1 when the library is loaded, set to 1 again by run as it
 * starts, cleared by stop. Shared between threads: access it only with
 * atomic operations (__atomic_load_n / __atomic_store_n), or through stop. */
extern int running;

/* Receives each key press (value 1) and release (value 0): the kernel's
 * symbolic name of the code ("KEY_A"), the code (30) and the value. For a
 * code libevdev has no name for, the name is the empty string, never
 * null. */
typedef void (*keylisten_event_callback)(const char* name, unsigned int code, int value);
/* Receives the library's messages: the level first, then the message. */
typedef void (*keylisten_log_callback)(const char* level, const char* message);

/* Logs DEBUG "Start native keyboard listener", stores the path and the two
 * callbacks, runs run on the calling thread until it returns, then logs
 * DEBUG "Exit native keyboard listener". The path is kept, not copied: it
 * must stay valid until registerCallback returns. */
void registerCallback(const char* path, keylisten_event_callback callback,
                      keylisten_log_callback logger);

/* The event loop on file: opens it read-only and blocking, sets running to
 * 1, and publishes every event read until stop is noticed or reading fails.
 * After a stop the loop ends once the blocking read returns, that is with
 * the next event from the device (which is still published). Because the
 * flag is set again at each start, a stop that comes before run has set it
 * is forgotten; a caller that may stop a listener that early repeats stop
 * until the listener's thread has returned.
 * When the kernel dropped events, the replayed state events are published
 * after an INFO "Sync events" each. A read that fails ends the loop with
 * INFO "Failed to handle events" and DEBUG <system error>.
 * Returns 0 after the loop ended (a failed read included), -1 when the
 * device cannot be opened or file is null (INFO "Failed to open device"),
 * -2 when libevdev cannot be set up on it (INFO "Failed to init libevdev",
 * DEBUG <system error>). The device is closed again on every way out. */
int run(void);

/* Asks the loop to end: clears running. */
void stop(void);

/* Calls the event callback for an EV_KEY event whose value is not 2
 * (auto-repeat); other events, and a null event, publish nothing.
 * Returns 0. */
int publish_event(const struct input_event* event);

#ifdef __cplusplus
}
#endif

#endif
