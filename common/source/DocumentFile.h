// Placing an update document in a mounted drop box, shared by every flow
// that hands one to the controller.
#ifndef ZEMT_DOCUMENT_FILE_H
#define ZEMT_DOCUMENT_FILE_H

#include <string>

namespace documentfile {

// mountPoint + updFileName, also kept in targetFilePath (cut to the 1023
// characters that buffer holds).
std::string recordPath(const std::string& mountPoint);

// Writes `text` to `path` (raw bytes, truncating).  False on any short
// write, flush or close: a document cut short on a full device would only
// be refused by its hash later.
bool write(const std::string& path, const std::string& text);

}  // namespace documentfile

#endif
