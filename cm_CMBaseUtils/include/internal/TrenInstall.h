/* SPDX-License-Identifier: Apache-2.0 */
// The counted install of the hardware-access library, written once over
// any platform implementation: the Linux implementation runs it on the
// real host, and the stand-ins (test fake, emulated host) run the same
// counting on top of their own library loading and commands.  The count
// and the "already installed" flag are the process-wide static members of
// CLinuxImpl.
#ifndef ZEMT_TREN_INSTALL_H
#define ZEMT_TREN_INSTALL_H

#include <string>

class IPlatformImpl;

namespace treninstall {

// The host's own copy in its directory (libzolipm.so, then libzolipm32.so).
bool isInstalled(IPlatformImpl& host);
// A copy on the system library path, as the management suite installs it.
bool isPavoInstalled(IPlatformImpl& host);
// Counted: the first call installs (or finds) it; 0 on success, 1 on failure.
int install(IPlatformImpl& host);
// Counted: the last call removes what this process installed; 0, or 1 when
// the uninstall script failed.
int uninstall(IPlatformImpl& host);
// From the library's own directory, else from the system library path.
void* loadLibrary(IPlatformImpl& host, const std::string& name);

}  // namespace treninstall

#endif
