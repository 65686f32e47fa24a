// Runs ap0100at-apply and ap0100at-run, unchanged, on the fake camera
// processor of the fake-device seam and reads back what reached it.
#ifndef AP0100AT_FAKE_CAMERA_H
#define AP0100AT_FAKE_CAMERA_H

#include <string>
#include <vector>

#include "TempDir.h"

struct ToolRun {
    int status;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

class FakeCamera {
  public:
    static constexpr const char* kDevice = "/dev/cam0";
    static constexpr const char* kDefaultDevice = "/dev/v4l/by-name/ap0100at@48";

    // settings: the fake's own lines (content.0x..., fail ..., command_...),
    // for a node at devicePath.
    explicit FakeCamera(const std::string& settings = "", const std::string& devicePath = kDevice);

    // The script written to a file and named after the device.
    ToolRun apply(const std::string& script);
    ToolRun run(const std::string& script);
    // Any arguments; the script text on standard input. A closedStream of
    // 0, 1 or 2 starts the program with that descriptor closed.
    ToolRun program(const std::string& program, const std::vector<std::string>& args,
                    const std::string& input, int closedStream = -1);
    static std::string applyProgram();
    static std::string runProgram();

    // One entry per request that reached the device, in order:
    // "0x<request> <record bytes as received> -> <result>", or for a failure
    // injected before the device "0x<request> -> -1 <ERRNO>".
    std::vector<std::string> calls() const;
    std::string log() const;
    const TempDir& dir() const { return tmp; }

  private:
    TempDir tmp;
};

#endif
