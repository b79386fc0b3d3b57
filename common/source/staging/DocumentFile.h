/* SPDX-License-Identifier: Apache-2.0 */
// Placing an update document in a mounted drop box, shared by every flow
// that hands one to the controller.
#ifndef ZEMT_DOCUMENT_FILE_H
#define ZEMT_DOCUMENT_FILE_H

#include <sstream>
#include <string>

class md5wrapper;
class secureKaver;

namespace documentfile {

// Closes the document in `stream`, writes it to mountPoint + updFileName
// (the path also kept in targetFilePath, cut to the 1023 characters that
// buffer holds) and syncs; `hash` receives the document's MD5 text.  False
// on any short write, flush or close: a document cut short on a full
// device would only be refused by its hash later.
bool place(secureKaver& kaver, md5wrapper& md5, std::ostringstream& stream, const std::string& mountPoint,
           std::string& hash);

// Writes `text` to `path` (through the platform layer, truncating); false
// on any short write, flush or close.
bool write(const std::string& path, const std::string& text);

}  // namespace documentfile

#endif
