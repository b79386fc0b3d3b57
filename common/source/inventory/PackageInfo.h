/* SPDX-License-Identifier: Apache-2.0 */
// What the records document takes from a package: the descriptor's
// display name, component type, version and the compatibility entries of
// this system, and the system's identifier from the package's own tool.
// Library-internal.
#ifndef ZEMT_INVENTORY_PACKAGE_INFO_H
#define ZEMT_INVENTORY_PACKAGE_INFO_H

#include <string>

namespace packageinfo {

// getPkgInfo on the text of a descriptor: fills the three out-parameters
// (emptied first) and returns the versionCompatibilities fragment for
// `sysId`, empty without such an element or for an unreadable descriptor.
std::string read(const std::string& descriptor, const std::string& sysId, std::string& disp,
                 std::string& compType, std::string& ver);

// getSysID on the output of the getSystemId program.
std::string systemId(const std::string& output);

}  // namespace packageinfo

#endif
