/*
 * Whether a libconfig file can be handed to libconfig without ending the
 * process. libconfig's scanner calls exit(2) when a read fails, as reading a
 * directory does, and waits forever on a FIFO; this holds as much for the
 * file named as for every file it pulls in with @include. Internal to the
 * library and the plug-in; not installed.
 */
#ifndef LYRANE_CONFIGFILECHECK_H
#define LYRANE_CONFIGFILECHECK_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * 1 when path and every file it includes, followed as libconfig follows them
 * (names relative to the current directory, nested includes, the include
 * limit of ten levels), are regular files this process can open for reading;
 * 0 otherwise, and also for an include nested deeper than libconfig accepts
 * (libconfig refuses such a file anyway). Include lines are recognised by
 * their text alone, also inside comments and strings, so this may refuse a
 * file whose commented-out include names a missing file, never the other way
 * round. Reads the files; logs nothing; thread-safe.
 */
int lyraneConfigFileIsSafe(const char* path);

#ifdef __cplusplus
}
#endif

#endif
