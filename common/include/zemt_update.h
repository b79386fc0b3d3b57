/* SPDX-License-Identifier: Apache-2.0 */
/* The four plain entry points an update package calls to run a firmware
   update, usable from C and C++:

       char text[1024] = "";
       int code = 0;
       int generation = CheckVemo(text, &code);    creates the update object
       if (Depcheck() == 0)                         may the package be applied?
           UpdateBiosUsingRQ(payload, "BIOS", "bioswrap", true, text);

   CheckVemo creates the process's one update object (pUpdRollbackWrapper);
   UpdateBiosUsingRQ and a failed Depcheck release it again, and so does
   CleanUp_UpdRollbackWrapper for a caller that stops early.  Error texts
   go into the caller's buffer of 1024 bytes and always end in a zero
   byte within it. */
#ifndef ZEMT_UPDATE_H
#define ZEMT_UPDATE_H

#ifdef __cplusplus
class UpdRollbackWrapper;
/* The update object between CheckVemo and its release; null otherwise. */
extern __attribute__((visibility("default"))) UpdRollbackWrapper* pUpdRollbackWrapper;
extern "C" {
#else
#include <stdbool.h>
struct UpdRollbackWrapper;
extern struct UpdRollbackWrapper* pUpdRollbackWrapper;
#endif

/* Size of the error-text buffers the functions write. */
#define ZEMT_ERRSTRING_SIZE 1024

/* Creates the update object and returns the server generation (0 pre-Vemo,
   1 Vemo, 2 Sarn; a pre-Vemo server's object is released at once).  When
   the object cannot be made: 0 with "CheckVemo : There is no kaver present
   on the system " when there is no repository; otherwise the generation
   with *nRetVal set to the library's error code (55: the repository is
   disabled) and a text in errString. */
__attribute__((visibility("default"))) int CheckVemo(char* errString, int* nRetVal);

/* The controller's dependency check of package.xml in the working
   directory: 0 passed (or not supported), 249 the controller rejected the
   package, 248 the exchange failed, -1 no update object.  Any result but 0
   and -1 releases the object. */
__attribute__((visibility("default"))) int Depcheck(void);

/* Stages the payload (one file when bSingleFile, else a folder) with its
   package.xml and has the controller apply it; subsystem and wrapper name
   the controller's task on Vemo servers (either may be null).  0 success;
   on Sarn servers 1 when the update needed no reboot; -1 without an update
   object; otherwise a failure code with "Update Using RQ Failed" in
   errString.  Releases the update object. */
__attribute__((visibility("default"))) int UpdateBiosUsingRQ(char* szAbsHdrFileName, char* szSubSystem,
                                                           char* szWrapperName, bool bSingleFile,
                                                           char* errString);

/* Releases the update object, if there is one. */
__attribute__((visibility("default"))) void CleanUp_UpdRollbackWrapper(void);

#ifdef __cplusplus
}
#endif

#endif
