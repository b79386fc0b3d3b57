/* SPDX-License-Identifier: Apache-2.0 */
/* A plain C client: loads the library by its SONAME and reads the exported
   globals and the entry points by name, as an update package written in C
   would. */
#include <dlfcn.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

static void *need(void *lib, const char *name) {
    void *address = dlsym(lib, name);
    if (address == NULL) {
        printf("missing global %s\n", name);
        failures++;
    }
    return address;
}

static void expect_text(void *lib, const char *name, const char *want) {
    const char **slot = (const char **)need(lib, name);
    if (slot == NULL) return;
    if (want == NULL ? *slot != NULL : (*slot == NULL || strcmp(*slot, want) != 0)) {
        printf("%s = \"%s\", expected \"%s\"\n", name, *slot ? *slot : "(null)",
               want ? want : "(null)");
        failures++;
    }
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "libzemt.so.0";
    void *lib = dlopen(path, RTLD_NOW);
    if (lib == NULL) {
        printf("dlopen %s: %s\n", path, dlerror());
        return 1;
    }
    expect_text(lib, "LogFilePath", "ZEMT_DBG.log");
    expect_text(lib, "updInvFileName", "input.xml");
    expect_text(lib, "curInvFileName", "output.xml");
    expect_text(lib, "updFileName", "update.xml");
    expect_text(lib, "dynDriveName", "SECUPD");
    expect_text(lib, "RecordSep", "/");
    expect_text(lib, "copyCmd", "/bin/cp");
    expect_text(lib, "mkdirCmd", "mkdir -p");
    expect_text(lib, "SessionID", "lastSessionId");
    expect_text(lib, "cfgFilePath", NULL);
    expect_text(lib, "ESXRel", "/etc/vmware-release");
    expect_text(lib, "RedHatRel", "/etc/redhat-release");
    expect_text(lib, "SuseRel", "/etc/SuSE-release");
    expect_text(lib, "QEVRel", "/VERSION");
    expect_text(lib, "WYRRel", "/VER_INFO");
    expect_text(lib, "NewWYRRel", "/qev-version");
    expect_text(lib, "RHatUdevLibDir", "/etc/udev/rules.d/");
    expect_text(lib, "RHatPartDir", "/tmp/");
    expect_text(lib, "StatSecKavDev", "/dev/seckavupd-");
    expect_text(lib, "sysfs_sg_dir", "/sys/class/scsi_generic");
    expect_text(lib, "TREN_IPMILIB", "libzolipm32.so");

    const _Bool *debugLog = need(lib, "DebugLog");
    if (debugLog && *debugLog) { printf("DebugLog is on by default\n"); failures++; }
    const _Bool *benchFlag = need(lib, "BenchFlag");
    if (benchFlag && *benchFlag) { printf("BenchFlag is on by default\n"); failures++; }
    const int *generation = need(lib, "GenerationType");
    if (generation && *generation != -1) { printf("GenerationType = %d\n", *generation); failures++; }
    const uint16_t *dynHandleIdx = need(lib, "dynHandleIdx");
    if (dynHandleIdx && *dynHandleIdx != 0) { printf("dynHandleIdx = %u\n", *dynHandleIdx); failures++; }
    need(lib, "LogFile");
    need(lib, "IPMIReqBuf");
    need(lib, "PollReqBuf");
    need(lib, "zolipmiLib");
    need(lib, "pfnCommandWithoutRetry");

    /* The entry points, called the way that needs no controller: without
       CheckVemo there is no update object. */
    void *const *wrapper = need(lib, "pUpdRollbackWrapper");
    if (wrapper && *wrapper != NULL) { printf("pUpdRollbackWrapper is set by default\n"); failures++; }
    need(lib, "CheckVemo");
    int (*depcheck)(void) = (int (*)(void))need(lib, "Depcheck");
    int (*update)(char *, char *, char *, bool, char *) =
        (int (*)(char *, char *, char *, bool, char *))need(lib, "UpdateBiosUsingRQ");
    void (*cleanUp)(void) = (void (*)(void))need(lib, "CleanUp_UpdRollbackWrapper");
    if (cleanUp) cleanUp();
    if (depcheck && depcheck() != -1) { printf("Depcheck without an update object is not -1\n"); failures++; }
    char text[1024];
    memset(text, 'x', sizeof text);
    if (update && (update("fw.hdr", "BIOS", "bioswrap", true, text) != -1 || text[0] != '\0')) {
        printf("UpdateBiosUsingRQ without an update object: not -1 with an empty text\n");
        failures++;
    }

    dlclose(lib);
    if (failures == 0) printf("all exported globals and entry points found, with their defaults\n");
    return failures == 0 ? 0 : 1;
}
