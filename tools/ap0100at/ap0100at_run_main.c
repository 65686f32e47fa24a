/* ap0100at-run <device> [<script>]: "write" and "read" lines; the script on
 * standard input when it is not named. There is no default device. */
#include <stddef.h>

#include "ap0100at_script.h"

int main(int argc, char** argv) {
    return ap0100at_tool_run(AP0100AT_RUN, argc > 1 ? argv[1] : NULL, argc > 2 ? argv[2] : NULL);
}
