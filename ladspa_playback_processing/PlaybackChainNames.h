/*
 * Registry names of the device's two playback chains (ExternalModuleRegistry).
 * The LADSPA plug-in registers its chain under one of them, picked by its Mode
 * port; the core library finds the loudspeaker path's chain under the
 * acoustic name, and LyraneBenchmark registers its chain under that name so
 * the core finds it there too. Plain C, for the plug-in.
 */
#ifndef PLAYBACKCHAINNAMES_H
#define PLAYBACKCHAINNAMES_H

/* Far-end speech played out of the device's own loudspeaker. */
#define LYRANE_ACOUSTIC_CHAIN_NAME "LADSPA_PLAYBACKPROCESSING_ACOUSTIC"
/* The plug-in's Mode 1 profile. */
#define LYRANE_AFIL_CHAIN_NAME "LADSPA_PLAYBACKPROCESSING_AFIL"

#endif /* PLAYBACKCHAINNAMES_H */
