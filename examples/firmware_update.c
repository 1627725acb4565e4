/* Burns a firmware image into the simulator (or, with --mcu, an image into the microcontroller
 * of the PPG module 0x2112) and shows the progress callback: one line per stage with its
 * percentage, a cancel on Ctrl-C (the callback returns 1), and the result.
 *
 * usage: firmware_update [--mcu] [port] FILE
 * With the virtual device:
 *   tolvan-vdev --make-firmware-image fw.bin --image-version 1.4.0.1
 *   tolvan-vdev --pattern /tmp/ttyACM%d &
 *   TOLVAN_DEVICE_PATTERN=/tmp/ttyACM%d TOLVAN_LOCK_DIR=/tmp ./firmware_update 0 fw.bin
 * (for --mcu: --make-mcu-image mcu.bin, and the virtual device with --preset ppg2112)
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tolvan.h"

static volatile sig_atomic_t g_cancel = 0;

static void on_interrupt(int signal_number) {
    (void)signal_number;
    g_cancel = 1;
}

/* Runs on this program's thread, inside the burn: keep it short, call nothing of the library. */
static int on_progress(int stage, int value) {
    static const char* const names[] = {"", "erase", "write", "verify", "restart", "reconnect"};
    static int last_stage = 0;
    static int last_value = -1;
    if (stage == 6) { /* the MCU burn reports its end twice: print the first */
        if (last_stage != 6) printf("\n%s (%d)\n", value == 100 ? "done" : "failed", value);
        last_stage = 6;
        fflush(stdout);
        return 0;
    }
    if (stage != last_stage) {
        printf("%s%-9s", last_stage != 0 ? "\n" : "", names[stage]);
        last_stage = stage;
        last_value = -1;
    }
    if (last_value < 0 || value / 10 != last_value / 10) printf(" %3d%%", value); /* every 10% */
    last_value = value;
    fflush(stdout);
    return (stage <= 3 && g_cancel) ? 1 : 0; /* 1 cancels the erase, write or verify */
}

int main(int argc, char** argv) {
    int mcu = 0;
    int port = 0;
    const char* path = NULL;
    int version[4] = {0, 0, 0, 0};
    int size;
    int result;
    int i;
    for (i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--mcu") == 0) {
            mcu = 1;
        } else if (path == NULL && i + 1 < argc) {
            port = atoi(argv[i]);
        } else {
            path = argv[i];
        }
    }
    if (path == NULL) {
        fprintf(stderr, "usage: firmware_update [--mcu] [port] FILE\n");
        return 2;
    }

    size = mcu ? LoadMcuFile(path, &version[0], &version[1], &version[2], &version[3])
               : LoadFirmwareFile(path, &version[0], &version[1], &version[2], &version[3]);
    if (size < 0) {
        fprintf(stderr, "%s: not a valid image (%d)\n", path, size);
        return 1;
    }
    printf("%s: %d bytes, version %d.%d.%d.%d\n", path, size, version[0], version[1], version[2],
           version[3]);

    if (!TOLVConnect(port, 10000)) {
        fprintf(stderr, "no simulator on port %d\n", port);
        return 1;
    }
    printf("connected: %s, firmware %s\n", TOLVGetSerialNumber(), TOLVGetFWVersion());
    signal(SIGINT, on_interrupt);

    result = mcu ? BurnMcu(on_progress) : BurnFirmware(on_progress);
    if (result == 0 && mcu) {
        HW_INFORMATION module;
        if (TOLVGetPPGHWInformation(&module)) {
            printf("burned; the PPG module runs firmware %d.%d.%d.%d\n",
                   (int)module.FirmwareVersion[0], (int)module.FirmwareVersion[1],
                   (int)module.FirmwareVersion[2], (int)module.FirmwareVersion[3]);
        }
    } else if (result == 0) {
        printf("burned; the simulator runs firmware %s\n", TOLVGetFWVersion());
    } else {
        printf("burn ended with %d%s\n", result, result == -1 ? " (cancelled)" : "");
    }
    TOLVFree();
    return result == 0 ? 0 : 1;
}
