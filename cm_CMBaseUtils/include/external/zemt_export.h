/* SPDX-License-Identifier: Apache-2.0 */
#ifndef ZEMT_EXPORT_H
#define ZEMT_EXPORT_H

// The library is built with hidden visibility; only what carries ZEMT_API
// is part of the public ABI (and the linker map confirms the list).
#define ZEMT_API __attribute__((visibility("default")))

#endif
