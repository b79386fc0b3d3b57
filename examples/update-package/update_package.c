/* SPDX-License-Identifier: Apache-2.0 */
/* A minimal update package in C: it loads the library by name at run time
   and runs a firmware update through the four plain entry points.

       update-package PAYLOAD [SUBSYSTEM WRAPPER]

   PAYLOAD is the firmware file, or a folder whose whole content is the
   payload.  SUBSYSTEM and WRAPPER name the task the controller runs on a
   generation-two server (BIOS and bioswrap for the example BIOS packages).
   Like every update package it lives in the package's folder, beside
   package.xml, and runs from there.  Exit status 0 when the update was
   applied or staged, 1 otherwise, 2 for a usage error. */
#include <dlfcn.h>
#include <stdio.h>
#include <sys/stat.h>

#include "zemt_update.h"

typedef int (*CheckVemoFn)(char*, int*);
typedef int (*DepcheckFn)(void);
typedef int (*UpdateBiosUsingRQFn)(char*, char*, char*, bool, char*);
typedef void (*CleanUpFn)(void);

static void* resolve(void* lib, const char* name) {
    void* function = dlsym(lib, name);
    if (function == NULL) fprintf(stderr, "update-package: libzemt.so.0 has no %s\n", name);
    return function;
}

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        fprintf(stderr, "usage: update-package PAYLOAD [SUBSYSTEM WRAPPER]\n");
        return 2;
    }
    void* lib = dlopen("libzemt.so.0", RTLD_NOW);
    if (lib == NULL) {
        fprintf(stderr, "update-package: %s\n", dlerror());
        return 1;
    }
    CheckVemoFn checkVemo = (CheckVemoFn)resolve(lib, "CheckVemo");
    DepcheckFn depcheck = (DepcheckFn)resolve(lib, "Depcheck");
    UpdateBiosUsingRQFn update = (UpdateBiosUsingRQFn)resolve(lib, "UpdateBiosUsingRQ");
    CleanUpFn cleanUp = (CleanUpFn)resolve(lib, "CleanUp_UpdRollbackWrapper");
    if (checkVemo == NULL || depcheck == NULL || update == NULL || cleanUp == NULL) return 1;

    char text[ZEMT_ERRSTRING_SIZE] = "";
    int code = 0;
    int status = 1;
    const int generation = checkVemo(text, &code);
    if (text[0] != '\0' || code != 0) {
        printf("Generation check failed: %s (code %d)\n", text, code);
    } else if (generation < 1) {
        printf("This server has no update path for packages (generation %d)\n", generation);
    } else {
        printf("Server generation: %d\n", generation);
        const int check = depcheck();
        if (check == 0) {
            printf("Dependency check: passed\n");
            struct stat payload;
            const bool singleFile = stat(argv[1], &payload) == 0 && !S_ISDIR(payload.st_mode);
            const int result = update(argv[1], argc == 4 ? argv[2] : NULL, argc == 4 ? argv[3] : NULL, singleFile,
                                      text);
            if (result == 0 && generation == 1)
                printf("Update staged in the component's current folder; the controller's task applies it\n");
            else if (result == 0)
                printf("Update applied; a reboot is required\n");
            else if (result == 1 && generation > 1)
                printf("Update applied; no reboot is required\n");
            else
                printf("Update failed with code %d: %s\n", result, text);
            status = result == 0 || (result == 1 && generation > 1) ? 0 : 1;
        } else {
            printf("Dependency check: %s\n", check == 249   ? "the controller rejected the package"
                                             : check == 248 ? "the exchange with the controller failed"
                                                            : "no update object");
        }
    }
    cleanUp();
    dlclose(lib);
    return status;
}
