/* ap0100at-apply [<device> [<script>]]: bare commands, queries and comments;
 * the script on standard input when it is not named. */
#include "ap0100at_script.h"

#define DEFAULT_DEVICE "/dev/v4l/by-name/ap0100at@48"

int main(int argc, char** argv) {
    const char* device = argc > 1 && argv[1][0] != '\0' ? argv[1] : DEFAULT_DEVICE;

    return ap0100at_tool_run(AP0100AT_APPLY, device, argc > 2 ? argv[2] : NULL);
}
