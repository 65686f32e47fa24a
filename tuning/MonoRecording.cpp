#include "MonoRecording.h"

#include <sndfile.h>

#include <memory>

#include "InputFile.h"
#include "TuningError.h"

MonoRecording MonoRecording::read(const std::string& path, unsigned int channel) {
    InputFile::requireReadable("WAV file", path);
    SF_INFO info{};
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_READ, &info),
                                                     sf_close);
    if (!file) {
        throw TuningError("cannot read WAV file " + path + ": " + sf_strerror(nullptr));
    }
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        throw TuningError("WAV file " + path + " holds no samples");
    }
    if (channel < 1 || channel > static_cast<unsigned int>(info.channels)) {
        throw TuningError("WAV file " + path + " has " + std::to_string(info.channels) +
                          " channel(s), no channel " + std::to_string(channel));
    }
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) *
                                   static_cast<std::size_t>(info.channels));
    const sf_count_t frames = sf_readf_float(file.get(), interleaved.data(), info.frames);
    if (frames != info.frames) {
        throw TuningError("WAV file " + path + " is truncated: " + std::to_string(frames) + " of " +
                          std::to_string(info.frames) + " frames read");
    }
    MonoRecording recording;
    recording.fs = static_cast<unsigned int>(info.samplerate);
    recording.channels = static_cast<unsigned int>(info.channels);
    recording.samples.reserve(static_cast<std::size_t>(frames));
    for (sf_count_t i = 0; i < frames; ++i) {
        recording.samples.push_back(
            interleaved[static_cast<std::size_t>(i) * recording.channels + (channel - 1)]);
    }
    return recording;
}
