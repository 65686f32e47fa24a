// A user of the installed stand-in core, as the benchmark is: Lyrane.h from
// the install prefix, a core made from a parameter store, one Batch over a
// short recording.
// pkg-config-also: liblyrane_standin
// usage: outside_standin SCRATCH_DIR (the directory is not used)
#include <Lyrane.h>

#include <Eigen/Core>
#include <ZIZO_Config>
#include <iostream>

int main(int argc, char**) {
    if (argc != 2) {
        std::cerr << "usage: outside_standin SCRATCH_DIR\n";
        return 1;
    }
    ZIZO_Config config;
    config.set<int>("fs", 8000);
    config.set<int>("Nmics", 2);
    Lyrane core(config, 0, 0, 0);
    std::cout << "fs " << core.getFs() << ", microphones " << core.getNmics() << "\n";

    // 8 kHz makes frames of 128 samples: 300 samples are two whole frames,
    // and the 44 after them stay as given. The output is the rows' mean.
    const Eigen::Index samples = 300;
    Eigen::ArrayXXf mics(2, samples);
    mics.row(0).setConstant(0.25f);
    mics.row(1).setConstant(0.75f);
    Eigen::ArrayXf farend = Eigen::ArrayXf::Zero(samples);
    Eigen::ArrayXf out = Eigen::ArrayXf::Zero(samples);
    Eigen::ArrayXf out2 = Eigen::ArrayXf::Zero(samples);
    Lyrane::EventMap events;
    events[{0u, LYRANE_EVENT_V}] = 5;
    core.Batch(mics, farend, out, out2, events);
    std::cout << "frames " << core.getFramecounter() << ", out[0] " << out[0] << ", out[255] "
              << out[255] << ", out[256] " << out[256] << "\n";
    return 0;
}
