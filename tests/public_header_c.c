/* The public header compiles as C99, the shared library resolves its symbols, and a C caller
 * can release what CheckECGTxtChannel hands out (a leak fails the sanitizer build). */
#include <stdio.h>
#include <string.h>

#include "tolvan.h"

/* CheckECGTxtChannel is a service function: only the Linux builds export it. */
#if defined(__linux__)
static int ChannelNamesRoundTrip(void) {
    const char* path = "public_header_c_names.txt";
    char* names[2] = {NULL, NULL};
    int ok;
    FILE* file = fopen(path, "w");
    if (file == NULL) return 0;
    fputs("500\n1\n2\nI,II\n0,0\n", file);
    fclose(file);
    ok = CheckECGTxtChannel(path, names) == 2 && names[0] != NULL && names[1] != NULL &&
         strcmp(names[1], "II") == 0;
    ReleaseECGTxtChannelNames(names, 2);
    ok = ok && names[0] == NULL && names[1] == NULL;
    remove(path);
    return ok;
}
#else
static int ChannelNamesRoundTrip(void) {
    return 1;
}
#endif

int main(void) {
    MODEL_INFORMATION model;
    HW_INFORMATION hw;
    memset(&model, 0, sizeof model);
    memset(&hw, 0, sizeof hw);
    if (sizeof model != 24 || sizeof hw != 24) return 1;
    if (strcmp(TOLVGetSDKVersion(), "1.2.5.5") != 0) return 2;
    if (!ChannelNamesRoundTrip()) return 3;
    printf("%s\n", TOLVGetSDKVersion());
    return 0;
}
