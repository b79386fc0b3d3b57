/* SPDX-License-Identifier: Apache-2.0 */
// Names inside shell commands.  Library-internal.
#ifndef ZEMT_SHELL_TEXT_H
#define ZEMT_SHELL_TEXT_H

#include <string>

namespace shelltext {

// `path` as one shell word: unchanged when it holds only characters the
// shell takes literally, else single-quoted (a quote inside becomes '\'').
// A relative name with a leading '-' gets "./" so no command reads it as an
// option.
std::string arg(const std::string& path);

// A path below a drop box's mount point that stays below it: not absolute,
// no ".." component, no NUL.
bool staysInside(const std::string& relative);

}  // namespace shelltext

#endif
