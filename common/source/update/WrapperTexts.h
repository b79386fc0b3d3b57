/* SPDX-License-Identifier: Apache-2.0 */
// Fixed texts of the update wrapper and the entry points over it.
// Library-internal.
#ifndef ZEMT_UPDATE_WRAPPER_TEXTS_H
#define ZEMT_UPDATE_WRAPPER_TEXTS_H

const char* const ssibFile = "ssibinput.xml";
const char* const kav022_lower = "kav022";
const char* const pkgFile = "package.xml";
const char* const NDir = "current";
const char* const N_1Dir = "previous";
const char* const fileSeparator = "/";
const char* const secureKaverError = "Could not create Secure Kaver object";
const char* const secureKaverSuccess = "Secure Kaver initialized successfully";
const char* const kaverNotpresent = "Full Kaver not found on the system";
const char* const secureInitError = "Could not initialize Secure Kaver";
const char* const startcopyError = "StartCopyFile Error : ";
const char* const startcopySuccess = "StartCopyFile done successfully";
const char* const noPayload = "No Files found in Payload Directory";
const char* const noHandleError = "Could not create handle to get files in Payload Directory";
const char* const statError = "Could not stat file ";
const char* const payload = " in the Payload Directory";
const char* const noCompID = "Could not get Component ID";
const char* const noOpen = "Could not open file ";
const char* const writing = " for writing";
const char* const addcompIDError = "Could not add component ID file to FileList";
const char* const addSSIBError = "Could not add SSIB file to FileList";
const char* const createFileListError = "Could not create FileList";
const char* const addError = "Could not add files to FileList";
const char* const createFileListSuccess = "FileList constructed successfully";
const char* const completeCopyError = "CompleteCopyFile Error : ";
const char* const copySuccess = "Payload copied and copy verified successfully";
const char* const endCopyError = "EndCopyFile Error : ";
const char* const noPKGHandleError = "Could not create handle to package.xml";
const char* const currentDirError = "Could not get current working directory";

#endif
