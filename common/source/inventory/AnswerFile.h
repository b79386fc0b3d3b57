/* SPDX-License-Identifier: Apache-2.0 */
// The controller's answer document (output.xml in the drop box): reading
// it with a bound, and what a dependency check makes of it.
// Library-internal.
#ifndef ZEMT_INVENTORY_ANSWER_FILE_H
#define ZEMT_INVENTORY_ANSWER_FILE_H

#include <string>

#include "inventory/XmlInput.h"

namespace answerfile {

// More than this is not an answer the library takes in: the file lies on
// a drop box the controller filled, and it is read whole into memory.
const std::size_t kMaxBytes = xmlinput::kMaxDocumentBytes;

enum Outcome { Read, NotOpened, TooLarge, Unreadable };

// The file's text up to its first NUL byte (through the platform layer:
// the path lies under a mount directory).
Outcome read(const std::string& path, std::string& text);

enum Verdict { Passed, Failed, Empty };

// Passed when the answer holds "<status>0</status>" anywhere.  Failed
// otherwise, with `reported` = the answer after its first "?>" (without
// its first character when it has none).  An empty answer cannot be cut
// that way and is Empty.
Verdict judgeDependencies(const std::string& answer, std::string& reported);

}  // namespace answerfile

#endif
