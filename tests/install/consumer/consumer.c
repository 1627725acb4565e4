/* A program outside the source tree: prints the version of the libtolvan it runs with and
 * exits 0 when it is the one given on the command line. */
#include <stdio.h>
#include <string.h>

#include <tolvan.h>

int main(int argc, char** argv) {
    const char* version = TOLVGetSDKVersion();
    printf("libtolvan %s\n", version);
    return argc > 1 && strcmp(version, argv[1]) == 0 ? 0 : 1;
}
