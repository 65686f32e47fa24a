#ifndef PLAYBACKPROCESSING_CWRAPPER_H
#define PLAYBACKPROCESSING_CWRAPPER_H

/*
 * C interface of the playback processing chain.
 *
 * Every function but PlaybackProcessing_Init takes the opaque handle that
 * PlaybackProcessing_Init returned and returns a status:
 *   0  success
 *   1  the handle is null or holds no chain, or a pointer argument the call
 *      needs is null (a caller error that must not crash the process);
 *      nothing is changed and nothing is logged in that case.
 * No other status is returned. An exception thrown by the chain while a
 * setter runs (for example an allocation failure) is not caught here.
 *
 * Each created chain is registered in the process-wide module registry under
 * its name; a second chain under a name already registered still works but is
 * not registered. PlaybackProcessing_Uninit removes the registry entry of its
 * name only while that entry holds the handle's own chain, so releasing the
 * second handle leaves the first chain registered.
 *
 * Threads: settings calls may come from a control thread while another thread
 * processes; the chain serialises them. A handle must not be released while
 * another thread still uses it.
 */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PlaybackProcessingData PlaybackProcessingData;

/* Creates a chain of Nblock samples per block at fs Hz with every block at its
 * built-in defaults (detector on, equalizer and AGC off, output muted) and
 * registers it under name. Returns null if the chain cannot be created
 * (including a null name); the cause is logged at FATAL. */
PlaybackProcessingData* PlaybackProcessing_Init(const char* name, unsigned int Nblock,
                                                unsigned int fs);

/* Unregisters the chain (if it is the one registered under its name) and
 * releases the handle; the chain lives on while a consumer that fetched it
 * from the registry still holds it. Null is accepted. Always 0. */
int PlaybackProcessing_Uninit(PlaybackProcessingData* data);

/* Processes one block: reads Nblock floats from in, writes Nblock floats to
 * out. in and out may be the same or overlapping buffers. Null in or out
 * gives 1. Real-time safe: never waits for another thread, allocates and
 * frees nothing, does no file I/O and logs nothing on the calling thread
 * (records of the audio path are emitted on a thread of the library's own).
 * Computes in the caller's floating-point mode: see PlaybackProcessing.h. */
int PlaybackProcessing_Process(PlaybackProcessingData* data, const float* in, float* out);

/* Processes a buffer of n samples: the same output and FIFO contents as
 * n / Nblock calls of PlaybackProcessing_Process on its successive blocks
 * (in + k * Nblock, out + k * Nblock), in one call. n must be a multiple of
 * Nblock; otherwise, or with null in or out, 1 and nothing is processed.
 * n = 0 gives 0. Settings take effect at buffer boundaries: a setting changed
 * while the call runs acts from the next call (a setter's thread cannot know
 * which sample the processing thread is on anyway), and the consumer of the
 * unprocessed input may see the buffer's samples up to n samples later than
 * with single calls. Real-time safe and in the caller's floating-point mode
 * as PlaybackProcessing_Process; the output is bit for bit that of the single
 * calls in flush-to-zero mode (the plug-in's), and under gradual underflow
 * until a state decays into the subnormal range (see PlaybackProcessing.h). */
int PlaybackProcessing_ProcessBuffer(PlaybackProcessingData* data, const float* in, float* out,
                                     unsigned long n);

/* Flags are true for any non-zero value. A null result pointer gives 1. */
int PlaybackProcessing_setAGCEnabled(PlaybackProcessingData* data, int enabled);
int PlaybackProcessing_getAGCEnabled(PlaybackProcessingData* data, int* enabled);
int PlaybackProcessing_setAGCTargetLevelDb(PlaybackProcessingData* data, float target_level);
int PlaybackProcessing_setAGCMaxGainDb(PlaybackProcessingData* data, float max_gain);
int PlaybackProcessing_setAGCDecreaseMaxGain(PlaybackProcessingData* data, int enabled);
int PlaybackProcessing_setAGCMaxAmp(PlaybackProcessingData* data, float max_amp);
int PlaybackProcessing_setAGCNonspeechHoldGainTime(PlaybackProcessingData* data, float time);
int PlaybackProcessing_setAGCNonspeechReleaseSpeed(PlaybackProcessingData* data, float speed);
int PlaybackProcessing_setEqualizerEnabled(PlaybackProcessingData* data, int enabled);
int PlaybackProcessing_getEqualizerEnabled(PlaybackProcessingData* data, int* enabled);
/* Sets the coefficient file and reloads the equalizer. A null filename gives 1. */
int PlaybackProcessing_setEqualizerFilename(PlaybackProcessingData* data, const char* filename);
int PlaybackProcessing_setOutputGainDb(PlaybackProcessingData* data, float gain);

#ifdef __cplusplus
}
#endif

#endif /* PLAYBACKPROCESSING_CWRAPPER_H */
