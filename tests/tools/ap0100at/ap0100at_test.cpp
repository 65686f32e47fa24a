// ap0100at-apply and ap0100at-run end to end on the fake camera processor.
// Expected record bytes are written out by hand from the record layouts:
// access record = address, flags (u16), value, mask (u32); command record =
// code, 8 parameters, 2 zero bytes, parameter count, response count, result,
// 8 response words; all little-endian.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "FakeCamera.h"

using Calls = std::vector<std::string>;

namespace {

std::string zeros(int count) {
    std::string text;
    for (int i = 0; i < count; i++)
        text += " 00";
    return text;
}

std::string fileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string kFirstWrite = "0x400c6121 10 00 10 00 01 00 00 00 ff ff ff ff -> 0";

// A line between "register 0x10 = 1" and "register 0x20 = 2".
struct Failing {
    bool run;
    std::string line, out, err;
};

void expectStopsAfterFirstWrite(const Failing& row) {
    FakeCamera camera;
    std::string prefix = row.run ? "write " : "";
    ToolRun result = row.run
                         ? camera.run(prefix + "reg=0x10,1\n" + row.line + "\nwrite reg=0x20,2\n")
                         : camera.apply("reg=0x10,1\n" + row.line + "\nreg=0x20,2\n");
    SCOPED_TRACE(row.line);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, (row.run ? "processing write: reg=0x10,1\n" : "") + row.out);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(camera.calls(), Calls{kFirstWrite});
    EXPECT_NE(camera.log().find("close /dev/cam0"), std::string::npos);
}

}  // namespace

TEST(Ap0100at, ApplyWritesVariablesRegistersAndCommandsRecordForRecord) {
    FakeCamera camera("command_result -5\ncommand_response 0xabcd 0x12 0x99\n");
    ToolRun result = camera.apply(
        "var=2,0x10,5\nvar8=2,0x10,5\nvar16=2,0x10,5\nvar32=2,0x10,5\n"
        "var8=0,0,0xffffffff\nvar32=31,0x3ff,0xfffffffe\n"
        "reg=0x3040,0x12345678\nreg=0xffff,0\n"
        "cmd2=0x8100,0x1,0xffff\ncmd=1\ncmd8=0xffff,1,2,3,4,5,6,7,8\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "CMD 8100 => -5 [abcd,0012]\n"
              "CMD 0001 => -5 []\n"
              "CMD ffff => -5 [abcd,0012,0099,0000,0000,0000,0000,0000]\n");
    EXPECT_EQ(camera.calls(),
              (Calls{
                  "0x400c6121 10 88 10 00 05 00 00 00 ff ff 00 00 -> 0",
                  "0x400c6121 10 88 00 00 05 00 00 00 ff 00 00 00 -> 0",
                  "0x400c6121 10 88 10 00 05 00 00 00 ff ff 00 00 -> 0",
                  "0x400c6121 10 88 30 00 05 00 00 00 ff ff ff ff -> 0",
                  "0x400c6121 00 80 00 00 ff ff ff ff ff 00 00 00 -> 0",
                  "0x400c6121 ff ff 30 00 fe ff ff ff ff ff ff ff -> 0",
                  "0x400c6121 40 30 10 00 78 56 34 12 ff ff ff ff -> 0",
                  "0x400c6121 ff ff 10 00 00 00 00 00 ff ff ff ff -> 0",
                  "0xc0306120 00 81 01 00 ff ff" + zeros(14) + " 02 00 00 00 02 00 00 00" +
                      zeros(20) + " -> 0",
                  "0xc0306120 01 00" + zeros(46) + " -> 0",
                  "0xc0306120 ff ff 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 00 00"
                  " 08 00 00 00 08 00 00 00" +
                      zeros(20) + " -> 0",
              }));
}

TEST(Ap0100at, ApplyQueriesReadBackAndPrintByWidth) {
    FakeCamera camera("content.0x8810 0x1234\ncontent.0xffff 0xfffffffe\ncontent.0x3000 0x0160\n");
    ToolRun result = camera.apply("?var8=2,0x10\n?var=2,0x10\n?var32=31,0x3ff\n?reg=0x3000\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "[0x8810]=0x34 (52)\n"
              "[0x8810]=0x1234 (4660)\n"
              "[0xffff]=0xfffffffe (-2)\n"
              "[0x3000]=0160 (352)\n");
    EXPECT_EQ(camera.calls(), (Calls{
                                  "0xc00c6122 10 88 00 00 00 00 00 00 ff 00 00 00 -> 0",
                                  "0xc00c6122 10 88 10 00 00 00 00 00 ff ff 00 00 -> 0",
                                  "0xc00c6122 ff ff 30 00 00 00 00 00 ff ff ff ff -> 0",
                                  "0x400c6122 00 30 10 00 00 00 00 00 ff ff ff ff -> 352",
                              }));
}

TEST(Ap0100at, LinesAreLowerCasedTrimmedAndCommentsDropped) {
    FakeCamera camera("command_response 0xbeef\n");
    ToolRun result = camera.apply(
        "  VAR8 =\t2 ,\t0X10 , 0XAB   // Page 3: VAR=3,0,0\n"
        "\r\n"
        "\t  \n"
        "# var=1,1,1 is not written\n"
        "reg = 010 , 0x1F trailing words are not examined\r\n"
        "// var=1,1,1 neither\n"
        "\tCMD1=0X8100,  017 ,0\t// ,5\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "CMD 8100 => 0 [beef]\n");
    EXPECT_EQ(camera.calls(), (Calls{
                                  "0x400c6121 10 88 00 00 ab 00 00 00 ff 00 00 00 -> 0",
                                  "0x400c6121 08 00 10 00 1f 00 00 00 ff ff ff ff -> 0",
                                  "0xc0306120 00 81 0f 00" + zeros(16) +
                                      " 02 00 00 00 01 00 00 00" + zeros(20) + " -> 0",
                              }));
}

TEST(Ap0100at, RunEchoesEachLineAndReadsThroughTheReadRequest) {
    FakeCamera camera("content.0x8810 0x1234\ncontent.0x3000 0x0160\ncommand_response 7\n");
    ToolRun result = camera.run(
        "WRITE   var=2,0x10,5\n"
        "write reg=0x3040,1\n"
        "write cmd1=0x8100\n"
        "read var8=2,0x11,7\n"
        "READ\treg=0x3000,9\n"
        "xxxxvar32=2,0x10,0\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "processing write: var=2,0x10,5\n"
              "processing write: reg=0x3040,1\n"
              "processing write: cmd1=0x8100\n"
              "CMD 8100 => 0 [0007]\n"
              "processing read: var8=2,0x11,7\n"
              "Register: 34833 value: 0\n"
              "processing read: reg=0x3000,9\n"
              "Register: 12288 value: 352\n"
              "processing read: var32=2,0x10,0\n"
              "Register: 34832 value: 5\n");
    EXPECT_EQ(camera.calls(),
              (Calls{
                  "0x400c6121 10 88 10 00 05 00 00 00 ff ff 00 00 -> 0",
                  "0x400c6121 40 30 10 00 01 00 00 00 ff ff ff ff -> 0",
                  "0xc0306120 00 81" + zeros(22) + " 01 00 00 00" + zeros(20) + " -> 0",
                  "0x400c6122 11 88 00 00 07 00 00 00 ff 00 00 00 -> 0",
                  "0x400c6122 00 30 10 00 09 00 00 00 ff ff ff ff -> 352",
                  "0x400c6122 10 88 30 00 00 00 00 00 ff ff ff ff -> 5",
              }));
}

TEST(Ap0100at, FailingLinesStopTheScriptWithTheirOwnMessage) {
    const Failing rows[] = {
        {false, "var24=2,0x10,5", "", "bad width 24\nfailed at line 'var24=2,0x10,5'\n"},
        {false, "var=2,0x10", "", "bad 'var' linefailed at line 'var=2,0x10'\n"},
        {false, "reg=0x10", "", "bad 'reg' line\nfailed at line 'reg=0x10'\n"},
        {false, "?var8=2", "", "bad '?var' linefailed at line '?var8=2'\n"},
        {false, "?var0=2,2", "", "bad width 0\nfailed at line '?var0=2,2'\n"},
        {false, "?reg=", "", "bad '?reg' line\nfailed at line '?reg='\n"},
        {false, "CMD=0x8100,1,2,3,4,5,6,7,8,9 // nine", "",
         "too much parameters\nfailed at line 'cmd=0x8100,1,2,3,4,5,6,7,8,9'\n"},
        {false, "cmd", "", "failed at line 'cmd'\n"},
        {false, "cmd=0x8100,x", "", "failed at line 'cmd=0x8100,x'\n"},
        {false, "Frob it  ", "", "unsupported command 'frob it'\nfailed at line 'frob it'\n"},
        {false, "write reg=0x30,3", "",
         "unsupported command 'write reg=0x30,3'\nfailed at line 'write reg=0x30,3'\n"},
        {true, "read var=2,0x10", "processing read: var=2,0x10\n",
         "bad 'var' linefailed at line 'read var=2,0x10'\n"},
        {true, "read reg=0x10", "processing read: reg=0x10\n",
         "bad 'reg' line\nfailed at line 'read reg=0x10'\n"},
        {true, "write var24=2,0x10,5", "processing write: var24=2,0x10,5\n",
         "bad width 24\nfailed at line 'write var24=2,0x10,5'\n"},
        {true, "read cmd=0x8100", "processing read: cmd=0x8100\n",
         "unsupported command 'cmd=0x8100'\nfailed at line 'read cmd=0x8100'\n"},
        {true, "write ?reg=0x30", "processing write: ?reg=0x30\n",
         "unsupported command '?reg=0x30'\nfailed at line 'write ?reg=0x30'\n"},
        {true, "# a comment", "processing read: comment\n",
         "unsupported command 'comment'\nfailed at line '# a comment'\n"},
    };
    for (const Failing& row : rows)
        expectStopsAfterFirstWrite(row);
}

// Each would otherwise reach a register or variable the script did not name.
TEST(Ap0100at, NumbersOutsideTheirFieldAreRefusedBeforeTheDevice) {
    const Failing rows[] = {
        {false, "var=32,0,1", "", "bad 'var' linefailed at line 'var=32,0,1'\n"},
        {false, "var=0,0x400,1", "", "bad 'var' linefailed at line 'var=0,0x400,1'\n"},
        {false, "var=0,0,0x100000000", "", "bad 'var' linefailed at line 'var=0,0,0x100000000'\n"},
        {false, "var=0,0,-1", "", "bad 'var' linefailed at line 'var=0,0,-1'\n"},
        {false, "var=0,0,99999999999999999999", "",
         "bad 'var' linefailed at line 'var=0,0,99999999999999999999'\n"},
        {false, "reg=0x10000,1", "", "bad 'reg' line\nfailed at line 'reg=0x10000,1'\n"},
        {false, "reg=-1,1", "", "bad 'reg' line\nfailed at line 'reg=-1,1'\n"},
        {false, "reg=1,0x100000000", "", "bad 'reg' line\nfailed at line 'reg=1,0x100000000'\n"},
        {false, "?var=0,0x400", "", "bad '?var' linefailed at line '?var=0,0x400'\n"},
        {false, "?reg=0x10000", "", "bad '?reg' line\nfailed at line '?reg=0x10000'\n"},
        {false, "cmd=0x10000", "", "failed at line 'cmd=0x10000'\n"},
        {false, "cmd=1,0x10000", "", "failed at line 'cmd=1,0x10000'\n"},
        {false, "cmd=1,+1", "", "failed at line 'cmd=1,+1'\n"},
        {false, "cmd9=0x8100", "",
         "bad response count 9 (at most 8)\nfailed at line 'cmd9=0x8100'\n"},
        {true, "read var=32,0,0", "processing read: var=32,0,0\n",
         "bad 'var' linefailed at line 'read var=32,0,0'\n"},
        {true, "read reg=0x10000,0", "processing read: reg=0x10000,0\n",
         "bad 'reg' line\nfailed at line 'read reg=0x10000,0'\n"},
        {true, "write cmd16=1", "processing write: cmd16=1\n",
         "bad response count 16 (at most 8)\nfailed at line 'write cmd16=1'\n"},
    };
    for (const Failing& row : rows)
        expectStopsAfterFirstWrite(row);
}

TEST(Ap0100at, FailedRequestsAreReportedByName) {
    struct {
        bool run;
        std::string request, line, message;
    } rows[] = {
        {false, "0x400c6121", "var=1,1,1", "ioctl(<AP0100AT_IOCTL_REG_WRITE/VAR>)"},
        {false, "0x400c6121", "reg=0x30,1", "ioctl(<AP0100AT_IOCTL_REG_WRITE/REG>)"},
        {false, "0xc0306120", "cmd=1", "ioctl(<AP0100AT_IOCTL_REG_COMMAND>)"},
        {false, "0xc00c6122", "?var=1,1", "ioctl(<AP0100AT_IOCTL_REG_READ32>)"},
        {false, "0x400c6122", "?reg=0x30", "ioctl(<AP0100AT_IOCTL_REG_READ>)"},
        {true, "0x400c6122", "read var=1,1,0", "ioctl(<AP0100AT_IOCTL_REG_READ/VAR>)"},
        {true, "0x400c6122", "read reg=0x30,0", "ioctl(<AP0100AT_IOCTL_REG_READ/REG>)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        // The request's second call fails; the first of the same kind went through.
        FakeCamera camera("fail ioctl EIO 2 " + row.request + "\n");
        std::string script = row.line + "\n" + row.line + "\n" + row.line + "\n";
        ToolRun result = row.run ? camera.run(script) : camera.apply(script);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err,
                  row.message + ": Input/output error\nfailed at line '" + row.line + "'\n");
        Calls calls = camera.calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[1], row.request + " -> -1 EIO");
    }
}

TEST(Ap0100at, InvocationDeviceFirstScriptSecondOrStandardInput) {
    FakeCamera camera("", FakeCamera::kDefaultDevice);
    ToolRun fromStdin =
        camera.program(FakeCamera::applyProgram(), {FakeCamera::kDefaultDevice}, "reg=1,2\n");
    ToolRun noArgument = camera.program(FakeCamera::applyProgram(), {}, "reg=1,3\n");
    ToolRun emptyArgument = camera.program(FakeCamera::applyProgram(), {""}, "reg=1,4\n");
    ToolRun runFromStdin =
        camera.program(FakeCamera::runProgram(), {FakeCamera::kDefaultDevice}, "write reg=1,5\n");
    for (const ToolRun& result : {fromStdin, noArgument, emptyArgument, runFromStdin}) {
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
    }
    Calls expected;
    for (const char* value : {"02", "03", "04", "05"})
        expected.push_back("0x400c6121 01 00 10 00 " + std::string(value) +
                           " 00 00 00 ff ff ff ff -> 0");
    EXPECT_EQ(camera.calls(), expected);

    // ap0100at-run has no default device.
    ToolRun runNoDevice = camera.program(FakeCamera::runProgram(), {}, "write reg=1,6\n");
    ToolRun noScript = camera.program(FakeCamera::applyProgram(),
                                      {FakeCamera::kDefaultDevice, camera.dir().file("none")}, "");
    ToolRun unreadable = camera.program(FakeCamera::runProgram(),
                                        {FakeCamera::kDefaultDevice, camera.dir().path()}, "");
    ToolRun noDevice = camera.program(FakeCamera::applyProgram(), {camera.dir().file("none")}, "");
    EXPECT_EQ(runNoDevice.status, 1);
    EXPECT_EQ(runNoDevice.err, "open(<cam>: No such file or directory\n");
    EXPECT_EQ(noScript.status, 1);
    EXPECT_EQ(noScript.err, "fopen(): No such file or directory\n");
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.err, "getline(): Is a directory\n");
    EXPECT_EQ(noDevice.status, 1);
    EXPECT_EQ(noDevice.err, "open(<cam>: No such file or directory\n");
    EXPECT_EQ(camera.calls().size(), 4u);
}

// The device never takes the place of a closed standard stream: a closed
// standard input is a script that cannot be opened (the device's content
// is never run as one), and no output or message goes into the device.
TEST(Ap0100at, ClosedStandardStreamsNeverBecomeTheDevice) {
    for (const std::string& program : {FakeCamera::applyProgram(), FakeCamera::runProgram()}) {
        SCOPED_TRACE(program);
        FakeCamera probe;
        const std::string content = "write reg=0x10,1\nreg=0x10,1\n";
        const std::string backing = probe.dir().write("device", content);
        FakeCamera camera("backing " + backing + "\n");
        ToolRun noInput = camera.program(program, {FakeCamera::kDevice}, "", STDIN_FILENO);
        EXPECT_EQ(noInput.status, 1);
        EXPECT_EQ(noInput.err, "fopen(): Bad file descriptor\n");
        EXPECT_EQ(camera.calls(), Calls{});

        const bool apply = program == FakeCamera::applyProgram();
        const std::string query = apply ? "?reg=0x20\n" : "read reg=0x20,0\n";
        ToolRun noOutput =
            camera.program(program, {FakeCamera::kDevice}, query + "bad\n", STDOUT_FILENO);
        ToolRun noErrors =
            camera.program(program, {FakeCamera::kDevice}, query + "bad\n", STDERR_FILENO);
        EXPECT_EQ(noOutput.status, 1);
        EXPECT_EQ(noErrors.status, 1);
        EXPECT_EQ(camera.calls().size(), 2u);
        EXPECT_EQ(fileContent(backing), content) << "nothing was written into the device";
    }
}

// A line shorter than the read keyword leaves the previous, longer line's
// bytes behind it in the line buffer; skipping four characters would run
// into them.
TEST(Ap0100at, RunShortLinesAreUnsupportedNotReadPastTheirEnd) {
    FakeCamera camera;
    ToolRun result = camera.run("read reg=0x20,0\nab\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "processing read: reg=0x20,0\nRegister: 32 value: 0\n");
    EXPECT_EQ(result.err, "unsupported command 'ab'\nfailed at line 'ab'\n");
    EXPECT_EQ(camera.calls(), Calls{"0x400c6122 20 00 10 00 00 00 00 00 ff ff ff ff -> 0"});
}

TEST(Ap0100at, LinesOfAnyLength) {
    const std::string blanks(100000, ' '), word(200000, 'Q');
    FakeCamera camera;
    ToolRun result = camera.apply("reg" + blanks + "=0x10," + blanks + "1 //" + word + "\n" + word +
                                  blanks + "\n");
    EXPECT_EQ(result.status, 1);
    std::string lower(word.size(), 'q');
    EXPECT_EQ(result.err, "unsupported command '" + lower + "'\nfailed at line '" + lower + "'\n");
    EXPECT_EQ(camera.calls(), Calls{kFirstWrite});
}
