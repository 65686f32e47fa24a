/*
 * LADSPA plug-ins of the playback processing chain.
 *
 * Index 0, "Void" (id 5021): a plain pass-through, Input to Output.
 * Index 1, "PLAYBACKPROCESSING" (id 5020): the chain. The Mode control port,
 * read once at the first activate, picks a settings profile:
 *   Mode in [1, 2)     LYRANE_AFIL_CHAIN_NAME,     ladspa_afil.cfg
 *   any other value    LYRANE_ACOUSTIC_CHAIN_NAME, ladspa_acoustic.cfg
 * (that is the Mode value truncated toward zero to an unsigned integer being
 * 1; negative, not-a-number and huge values count as 0). The settings file
 * lives in the device's configuration directory and is applied through the
 * chain's C interface, so the plug-in needs nothing but that interface.
 *
 * Threads, as LADSPA hosts use them: ladspa_descriptor, instantiate,
 * connect_port, activate and cleanup come from one control thread; run comes
 * from the audio thread and never allocates, logs, reads files or waits for
 * another thread. The plug-in logs nothing itself.
 */
#include <ladspa.h>
#include <libconfig.h>
#include <stdlib.h>
#include <string.h>

#include "ConfigFileCheck.h"
#include "FlushToZeroMode.h"
#include "PlaybackChainNames.h"
#include "ladspa_settings.h"
#include "playbackprocessing_cwrapper.h"

#define VOID_UNIQUE_ID 5021
#define CHAIN_UNIQUE_ID 5020

#define PORT_INPUT 0
#define PORT_OUTPUT 1
#define PORT_MODE 2

/* The chain runs one sample per block: the host's block size is free, and
 * every sample is handed over as it comes. */
#define CHAIN_NBLOCK 1u

#define AFIL_MODE 1u
#define AFIL_SETTINGS_FILE LYRANE_CONFIG_DIR "/ladspa_afil.cfg"
#define ACOUSTIC_SETTINGS_FILE LYRANE_CONFIG_DIR "/ladspa_acoustic.cfg"

typedef struct {
    LADSPA_Data* input;
    LADSPA_Data* output;
} VoidInstance;

typedef struct {
    LADSPA_Data* input;
    LADSPA_Data* output;
    LADSPA_Data* mode;
    PlaybackProcessingData* chain; /* null until activated, or if creation failed */
    unsigned long sampleRate;
    int activated;
} ChainInstance;

typedef struct {
    const char* name;
    LADSPA_PortDescriptor descriptor;
    LADSPA_PortRangeHintDescriptor hint;
} PortSpec;

typedef struct {
    unsigned long uniqueId;
    const char* label;
    const char* name;
    unsigned long portCount;
    const PortSpec* ports;
    LADSPA_Handle (*instantiate)(const LADSPA_Descriptor*, unsigned long);
    void (*connectPort)(LADSPA_Handle, unsigned long, LADSPA_Data*);
    void (*activate)(LADSPA_Handle);
    void (*run)(LADSPA_Handle, unsigned long);
    void (*cleanup)(LADSPA_Handle);
} PluginLayout;

/* ---- Pass-through ------------------------------------------------------ */

/* Control thread, never while the instance runs; may allocate. The sample
 * rate does not matter to a copy. */
static LADSPA_Handle voidInstantiate(const LADSPA_Descriptor* descriptor, unsigned long rate) {
    (void)descriptor;
    (void)rate;
    return calloc(1, sizeof(VoidInstance));
}

/* Control thread, or the audio thread between runs (hosts may reconnect):
 * stores a pointer and nothing else, so it is real-time safe. */
static void voidConnectPort(LADSPA_Handle handle, unsigned long port, LADSPA_Data* buffer) {
    VoidInstance* instance = (VoidInstance*)handle;
    if (port == PORT_INPUT) {
        instance->input = buffer;
    } else if (port == PORT_OUTPUT) {
        instance->output = buffer;
    }
}

/* Audio thread: must not allocate, log, block or touch files. Hosts may pass
 * the same buffer as input and output, hence memmove. An unconnected output
 * gets nothing, an unconnected input silence. */
static void voidRun(LADSPA_Handle handle, unsigned long sampleCount) {
    VoidInstance* instance = (VoidInstance*)handle;
    if (instance->output == NULL || sampleCount == 0) {
        return;
    }
    if (instance->input == NULL) {
        memset(instance->output, 0, sampleCount * sizeof(LADSPA_Data));
        return;
    }
    memmove(instance->output, instance->input, sampleCount * sizeof(LADSPA_Data));
}

/* Control thread, after the last run; frees the instance. */
static void voidCleanup(LADSPA_Handle handle) {
    free(handle);
}

/* ---- Chain ------------------------------------------------------------- */

/* Control thread, never while the instance runs; may allocate. The chain
 * itself is created at the first activate, once the Mode port is connected
 * and holds the profile. */
static LADSPA_Handle chainInstantiate(const LADSPA_Descriptor* descriptor, unsigned long rate) {
    (void)descriptor;
    ChainInstance* instance = (ChainInstance*)calloc(1, sizeof(ChainInstance));
    if (instance != NULL) {
        instance->sampleRate = rate;
    }
    return instance;
}

/* Control thread, or the audio thread between runs (hosts may reconnect):
 * stores a pointer and nothing else, so it is real-time safe. The Mode value
 * is read at activation only. */
static void chainConnectPort(LADSPA_Handle handle, unsigned long port, LADSPA_Data* buffer) {
    ChainInstance* instance = (ChainInstance*)handle;
    if (port == PORT_INPUT) {
        instance->input = buffer;
    } else if (port == PORT_OUTPUT) {
        instance->output = buffer;
    } else if (port == PORT_MODE) {
        instance->mode = buffer;
    }
}

/* Whether Mode, truncated toward zero to an unsigned integer, is 1. Written as
 * a range test because converting a negative, huge or not-a-number float to
 * an unsigned integer is undefined in C; all of those count as 0. An
 * unconnected Mode port counts as 0 too. */
static int isAfilMode(const LADSPA_Data* mode) {
    return mode != NULL && *mode >= (float)AFIL_MODE && *mode < (float)(AFIL_MODE + 1u);
}

/* The table's order is the order of application (ladspa_settings.h). */
static void applySettings(const config_t* settings, PlaybackProcessingData* chain) {
    for (size_t i = 0; i < LADSPA_SETTING_COUNT; ++i) {
        applyLadspaSetting(settings, &kLadspaSettings[i], chain);
    }
}

/* Control thread, never while the instance runs; creates the chain and
 * reads the settings file, so it allocates, logs (through the chain) and
 * blocks on file input, which run must never do. Only the first activation
 * counts: a later one (after a
 * host's deactivate, which this plug-in does not offer, or a changed Mode)
 * keeps the chain and profile it has. An unreadable settings file leaves the
 * chain at its defaults, muted. */
static void chainActivate(LADSPA_Handle handle) {
    ChainInstance* instance = (ChainInstance*)handle;
    if (instance->activated) {
        return;
    }
    int afil = isAfilMode(instance->mode);
    instance->chain =
        PlaybackProcessing_Init(afil ? LYRANE_AFIL_CHAIN_NAME : LYRANE_ACOUSTIC_CHAIN_NAME,
                                CHAIN_NBLOCK, (unsigned int)instance->sampleRate);
    instance->activated = 1;

    /* libconfig would end the host's process on an include it cannot read;
     * such a file counts as unreadable. */
    const char* path = afil ? AFIL_SETTINGS_FILE : ACOUSTIC_SETTINGS_FILE;
    config_t settings;
    config_init(&settings);
    if (lyraneConfigFileIsSafe(path) && config_read_file(&settings, path) == CONFIG_TRUE) {
        applySettings(&settings, instance->chain);
    }
    config_destroy(&settings);
}

/* Audio thread: must not allocate, log, block or touch files. The chain's
 * processing call does none of these and never waits for another thread:
 * settings, reloads and the FIFO's consumer hand their work over wait-free.
 * One chain block of one sample per input sample, the whole buffer in one
 * call (settings changed meanwhile act from the next buffer); in-place
 * buffers are fine since the chain reads each input sample before writing
 * its output. The
 * whole host buffer runs in flush-to-zero mode, set once here (reading the
 * mode per sample would cost more than a sample's arithmetic), and the
 * host's mode is restored before returning. Without a chain (never
 * activated, or creation failed) the output is silence rather than whatever
 * the host's buffer held. */
static void chainRun(LADSPA_Handle handle, unsigned long sampleCount) {
    ChainInstance* instance = (ChainInstance*)handle;
    LADSPA_Data* out = instance->output;
    const LADSPA_Data* in = instance->input;
    if (out == NULL || sampleCount == 0) {
        return;
    }
    if (instance->chain == NULL || in == NULL) {
        memset(out, 0, sampleCount * sizeof(LADSPA_Data));
        return;
    }
    const uint64_t hostMode = FlushToZeroMode_enter();
    PlaybackProcessing_ProcessBuffer(instance->chain, in, out, sampleCount);
    FlushToZeroMode_leave(hostMode);
}

/* Control thread, after the last run; unregisters and releases the chain
 * (a null one is fine) and frees the instance. */
static void chainCleanup(LADSPA_Handle handle) {
    ChainInstance* instance = (ChainInstance*)handle;
    PlaybackProcessing_Uninit(instance->chain);
    free(instance);
}

/* ---- Descriptors ------------------------------------------------------- */

static const PortSpec voidPorts[] = {
    {"Input", LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO, 0},
    {"Output", LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO, 0},
};

static const PortSpec chainPorts[] = {
    {"Input", LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO, 0},
    {"Output", LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO, 0},
    {"Mode", LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL, LADSPA_HINT_BOUNDED_BELOW},
};

static const PluginLayout plugins[] = {
    {VOID_UNIQUE_ID, "Void", "Void", 2, voidPorts, voidInstantiate, voidConnectPort, NULL, voidRun,
     voidCleanup},
    {CHAIN_UNIQUE_ID, "PLAYBACKPROCESSING", "Talvane Lyrane", 3, chainPorts, chainInstantiate,
     chainConnectPort, chainActivate, chainRun, chainCleanup},
};

#define PLUGIN_COUNT (sizeof(plugins) / sizeof(plugins[0]))

static LADSPA_Descriptor* descriptors[PLUGIN_COUNT];

/* A copy the descriptor owns; stays null if it cannot be allocated. */
static char* copyText(const char* text) {
    size_t size = strlen(text) + 1;
    char* copy = (char*)malloc(size);
    if (copy != NULL) {
        memcpy(copy, text, size);
    }
    return copy;
}

static LADSPA_Descriptor* buildDescriptor(const PluginLayout* layout) {
    LADSPA_Descriptor* d = (LADSPA_Descriptor*)calloc(1, sizeof(LADSPA_Descriptor));
    if (d == NULL) {
        return NULL;
    }
    d->UniqueID = layout->uniqueId;
    d->Label = copyText(layout->label);
    d->Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
    d->Name = copyText(layout->name);
    d->Maker = copyText("Talvane");
    d->Copyright = copyText("None"); /* hosts print it: never leave it null */
    d->PortCount = layout->portCount;

    LADSPA_PortDescriptor* kinds =
        (LADSPA_PortDescriptor*)calloc(layout->portCount, sizeof(LADSPA_PortDescriptor));
    char** names = (char**)calloc(layout->portCount, sizeof(char*));
    LADSPA_PortRangeHint* hints =
        (LADSPA_PortRangeHint*)calloc(layout->portCount, sizeof(LADSPA_PortRangeHint));
    for (unsigned long p = 0; p < layout->portCount; ++p) {
        if (kinds != NULL) {
            kinds[p] = layout->ports[p].descriptor;
        }
        if (names != NULL) {
            names[p] = copyText(layout->ports[p].name);
        }
        if (hints != NULL) {
            hints[p].HintDescriptor = layout->ports[p].hint;
            hints[p].LowerBound = 0.0f;
            hints[p].UpperBound = 0.0f;
        }
    }
    d->PortDescriptors = kinds;
    d->PortNames = (const char* const*)names;
    d->PortRangeHints = hints;
    d->ImplementationData = NULL;

    d->instantiate = layout->instantiate;
    d->connect_port = layout->connectPort;
    d->activate = layout->activate;
    d->run = layout->run;
    d->run_adding = NULL;
    d->set_run_adding_gain = NULL;
    d->deactivate = NULL;
    d->cleanup = layout->cleanup;
    return d;
}

static void freeDescriptor(LADSPA_Descriptor* d) {
    if (d == NULL) {
        return;
    }
    free((char*)d->Label);
    free((char*)d->Name);
    free((char*)d->Maker);
    free((char*)d->Copyright);
    free((LADSPA_PortDescriptor*)d->PortDescriptors);
    if (d->PortNames != NULL) {
        for (unsigned long p = 0; p < d->PortCount; ++p) {
            free((char*)d->PortNames[p]);
        }
        free((char**)d->PortNames);
    }
    free((LADSPA_PortRangeHint*)d->PortRangeHints);
    free(d);
}

/* Runs when the library is loaded, before any host call. */
__attribute__((constructor)) static void buildDescriptors(void) {
    for (size_t i = 0; i < PLUGIN_COUNT; ++i) {
        descriptors[i] = buildDescriptor(&plugins[i]);
    }
}

/* Runs when the library is unloaded. */
__attribute__((destructor)) static void freeDescriptors(void) {
    for (size_t i = 0; i < PLUGIN_COUNT; ++i) {
        freeDescriptor(descriptors[i]);
        descriptors[i] = NULL;
    }
}

/* The discovery function LADSPA hosts look up. Null for an index past the
 * last plug-in or for a descriptor that could not be allocated. */
__attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(
    unsigned long index) {
    return index < PLUGIN_COUNT ? descriptors[index] : NULL;
}
