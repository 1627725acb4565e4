/* The public header compiles as C99 and the shared library resolves its symbols. */
#include <stdio.h>
#include <string.h>

#include "tolvan.h"

int main(void) {
    MODEL_INFORMATION model;
    HW_INFORMATION hw;
    memset(&model, 0, sizeof model);
    memset(&hw, 0, sizeof hw);
    if (sizeof model != 24 || sizeof hw != 24) return 1;
    if (strcmp(TOLVGetSDKVersion(), "1.2.5.5") != 0) return 2;
    printf("%s\n", TOLVGetSDKVersion());
    return 0;
}
