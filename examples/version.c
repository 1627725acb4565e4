/* Prints the SDK version: the smallest program that loads libtolvan. */
#include <stdio.h>

#include "tolvan.h"

int main(void) {
    printf("libtolvan %s\n", TOLVGetSDKVersion());
    return 0;
}
