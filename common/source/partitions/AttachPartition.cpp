// SPDX-License-Identifier: Apache-2.0
// Attaching and detaching repository partitions, each attach tied to a
// mount on the host, and the SCSI clean-up older ESX hosts need afterwards.
#include <string>

#include "partitions/HostPaths.h"
#include "partitions/PartitionRequest.h"
#include "PlatformLayer.h"
#include "core/FailureReason.h"
#include "secureKaver.h"

namespace {

const std::size_t kStatBitmapOffset = 5;
const std::size_t kDynBitmapOffset = 9;

const int kMaxAttachPasses = 5;
const unsigned int kSettleSeconds = 10;
const uint16_t kLastPartId = 256;

// The ESX 3 pipe output is read once, at most this much.
const unsigned int kScsiListLimit = 1024;

void fillAttachDetach(const secureKaver& kaver, uint16_t statBitMap, uint16_t dynBitMap) {
    partreq::begin(kaver);
    partreq::putBitmap(kStatBitmapOffset, statBitMap);
    partreq::putBitmap(kDynBitmapOffset, dynBitMap);
}

// The two characters `skip` bytes after `key` in `text`, or what is left
// of them when the text ends first.
std::string fieldAfter(const std::string& text, const char* key, std::size_t skip) {
    std::string::size_type at = text.find(key);
    if (at == std::string::npos) return std::string();
    at += skip;
    if (at >= text.size()) return std::string();
    return text.substr(at, 2);
}

// A SCSI address field as it may go into the shell command: decimal digits
// and blanks only (the /proc/scsi/scsi layout), nothing else.
bool isAddressField(const std::string& field) {
    if (field.empty()) return false;
    bool digit = false;
    for (char c : field) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c != ' ')
            return false;
    }
    return digit;
}

// Attach and detach by id work only on a partition the controller reported.
void requireReportedPartition(uint16_t partId) {
    if (partId > kLastPartId) {
        KAVER_LOG("Invalid Kaver partition specfied");
        throw static_cast<uint8_t>(ZEMT_INVKAVERPART);
    }
    if (!kaverPartInfo[partId].i_present) {
        KAVER_LOG("Kaver partition is not present.");
        throw static_cast<uint8_t>(ZEMT_INVKAVERPART);
    }
}

}  // namespace

bool secureKaver::AttachPartition(uint16_t statBitMap, uint16_t dynBitMap, uint16_t partId) {
    try {
        if (partId > kLastPartId) {
            KAVER_LOG("Invalid Partition Id specfied");
            throw static_cast<uint8_t>(ZEMT_INVKAVERPART);
        }
        if (!IsSessionActive()) {
            KAVER_LOG("AttachPartition called with NO active session");
            throw static_cast<uint8_t>(ZEMT_NOKAVERSESS);
        }
        // The labels end up in mount commands and paths; one that could not
        // be mounted safely is refused before the controller attaches anything.
        if ((statBitMap != 0 && !hostpaths::isSafeVolumeLabel(kaverPartInfo[partId].i_volumeLabel)) ||
            (dynBitMap != 0 && !hostpaths::isSafeVolumeLabel(dynDriveName ? dynDriveName : ""))) {
            KAVER_LOG("Invalid volume label for the partition");
            throw static_cast<uint8_t>(ZEMT_INVKAVERPART);
        }
        const std::string label = kaverPartInfo[partId].i_volumeLabel;
        for (int retries = 0;; ++retries) {
            if (retries >= kMaxAttachPasses) throw static_cast<uint8_t>(ZEMT_FINDMOUNTERR);

            fillAttachDetach(*this, statBitMap, dynBitMap);
            if (protocol::request(*this, protocol::kAttachPartitions) != 0) {
                KAVER_LOG("AttachPartitions IPMI Request failed");
                throw static_cast<uint8_t>(ZEMT_ATTACHPARTFAIL);
            }
            KAVER_LOG("AttachPartitions IPMI Request succeeded");

            if (statBitMap != 0) {
                thisSession.statBitMap = static_cast<uint16_t>(thisSession.statBitMap | statBitMap);
                std::string mountPoint;
                getPartDrive(label, mountPoint);
                KAVER_LOG("Mount Point: " + mountPoint);
                if (!mountStatPartition(label)) {
                    KAVER_LOG("mountStatPartition did not succeed. Detaching partition and Retrying");
                    failure::Keep reason;
                    if (!DetachPartition(statBitMap, 0, partId, false))
                        KAVER_LOG("DetachPartition failed");
                    else
                        KAVER_LOG("DetachPartition succeeded");
                    continue;
                }
                KAVER_LOG("AttachPartition succeeded");
            }
            if (dynBitMap != 0) {
                if (!mountDynPartition()) {
                    KAVER_LOG("mountDynPartition did not succeed. Detaching partition and Retrying");
                    failure::Keep reason;
                    if (!DetachPartition(0, dynBitMap, 0, false))
                        KAVER_LOG("DetachPartition failed");
                    else
                        KAVER_LOG("DetachPartition succeeded");
                    continue;
                }
            }
            KAVER_LOG("AttachPartition succeeded");
            CPlatformLayer::Sleep(kSettleSeconds);
            return true;
        }
    } catch (uint8_t code) {
        storeErrorInfo(code);
        KAVER_LOG("AttachPartition failed");
        if (code == ZEMT_FINDMOUNTERR) {
            failure::Keep reason;
            bool detached = statBitMap != 0 ? DetachPartition(statBitMap, 0, partId, false)
                                            : DetachPartition(0, dynBitMap, 0, false);
            if (!detached) KAVER_LOG("DetachPartition failed");
            // The final detach stores its own code only on failure; the
            // caller is told why the attach failed.
            storeErrorInfo(code);
        }
    } catch (...) {
        KAVER_LOG("AttachPartition failed");
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
    }
    return false;
}

bool secureKaver::DetachPartition(uint16_t statBitMap, uint16_t dynBitMap, uint16_t partId, bool bDetachAll) {
    try {
        partreq::clear();
        if (!IsSessionActive()) {
            KAVER_LOG("DetachPartition called with NO active session");
            throw static_cast<uint8_t>(ZEMT_NOKAVERSESS);
        }
        if (statBitMap != 0) {
            if (partId > kLastPartId) {
                KAVER_LOG("Invalid partition Id specfied");
                throw static_cast<uint8_t>(ZEMT_INVKAVERPART);
            }
        }
        if (statBitMap != 0 && !unmountStatPartition(kaverPartInfo[partId].i_volumeLabel))
            KAVER_LOG("umountStatPartition volumeLabel NOT found");
        if (dynBitMap != 0 && !unmountDynPartition()) KAVER_LOG("umountDynPartition failed.");

        fillAttachDetach(*this, statBitMap, dynBitMap);
        if (protocol::request(*this, protocol::kDetachPartitions) != 0) {
            if (bDetachAll) KAVER_LOG("DetachPartitions IPMI Request failed");
            throw static_cast<uint8_t>(ZEMT_DETACHFAILED);
        }
        KAVER_LOG("DetachPartitions IPMI Request succeeded");
        thisSession.statBitMap = static_cast<uint16_t>(thisSession.statBitMap & ~statBitMap);
        if (partId <= kLastPartId) kaverPartInfo[partId].i_mountPoint.clear();
        KAVER_LOG("DetachPartition succeeded");
        ESX_RemoveEntries(statBitMap, dynBitMap, partId);
        return true;
    } catch (uint8_t code) {
        storeErrorInfo(code);
        if (bDetachAll) KAVER_LOG("DetachPartition failed");
    } catch (...) {
        KAVER_LOG("DetachPartition failed");
        KAVER_LOG("ZEMT internal error");
        storeErrorInfo(ZEMT_INTERROR);
    }
    return false;
}

void secureKaver::ESX_RemoveEntries(uint16_t statBitMap, uint16_t dynBitMap, uint16_t partId) {
    const std::string label = partId <= kLastPartId ? kaverPartInfo[partId].i_volumeLabel : std::string();
    if (LinuxOSVer == ESX) {
        KAVER_LOG("Removing " + label + " from /proc/scsi/scsi");
        std::string pattern;
        if (statBitMap != 0) pattern += label;
        if (dynBitMap != 0) pattern += dynDriveName ? dynDriveName : "";
        // The pattern sits inside a quoted sed address: a character that
        // could end the quote or the address would change the command.
        if (pattern.find_first_of("'/\\\n") != std::string::npos) {
            KAVER_LOG("ESX_RemoveEntries: unusable volume label, clean-up skipped");
        } else {
            const std::string cmd = "/bin/cat /proc/scsi/scsi | /bin/sed -n '/" + pattern + "/{g;1!p;};h'";
            std::string output;
            if (CPlatformLayer::ReadCommandOutput(cmd, output, kScsiListLimit) && !output.empty()) {
                output = output.substr(0, output.find('\0'));
                KAVER_LOG("HBTL (" + output + " ):");
                const std::string host = fieldAfter(output, "Host: ", 10);
                const std::string channel = fieldAfter(output, "Channel: ", 9);
                const std::string id = fieldAfter(output, "Id: ", 4);
                const std::string lun = fieldAfter(output, "Lun: ", 5);
                KAVER_LOG("HBTL (" + host + ", " + channel + ", " + id + ", " + lun + ")");
                // The fields come from a host file; only digits may reach
                // a command that writes into /proc.
                if (isAddressField(host) && isAddressField(channel) && isAddressField(id) && isAddressField(lun)) {
                    CPlatformLayer::Run("echo \"scsi remove-single-entry " + host + " " + channel + " " + id +
                                        " " + lun + "\" > /proc/scsi/scsi");
                } else {
                    KAVER_LOG("ESX_RemoveEntries: SCSI address not understood, entry not removed");
                }
            }
        }
    } else if (LinuxOSVer == ESX4) {
        CPlatformLayer::Run(
            "for i in `/usr/sbin/esxcfg-scsidevs -A | /bin/awk '{print $1}' | uniq` ; do "
            "/usr/sbin/esxcfg-rescan $i &> /dev/null ; done");
    }
    KAVER_LOG("done");
}

bool secureKaver::AttachKaverPartition(uint16_t partId) {
    try {
        requireReportedPartition(partId);
        if (AttachPartition(kaverPartInfo[partId].i_bitmap, 0, partId)) {
            KAVER_LOG("AttachKaverPartition successful");
            return true;
        }
        KAVER_LOG("AttachKaverPartition failed");
        throw static_cast<uint8_t>(ZEMT_ATTACHPARTFAIL);
    } catch (uint8_t code) {
        storeErrorInfo(code);
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::AttachKaverPartition(const std::string& label) {
    try {
        return AttachKaverPartition(getPartIndex(label));
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::DetachKaverPartition(uint16_t partId) {
    try {
        requireReportedPartition(partId);
        if (DetachPartition(kaverPartInfo[partId].i_bitmap, 0, partId, false)) {
            KAVER_LOG("Kaver partition got detached.");
            return true;
        }
        KAVER_LOG("Kaver partition did not got detached.");
        throw static_cast<uint8_t>(ZEMT_DETACHFAILED);
    } catch (uint8_t code) {
        storeErrorInfo(code);
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::DetachKaverPartition(const std::string& label) {
    try {
        return DetachKaverPartition(getPartIndex(label));
    } catch (...) {
        KAVER_LOG("ZEMT internal error");
        errorInfo.lastErr = ZEMT_INTERROR;
    }
    return false;
}

bool secureKaver::DetachAll() {
    DetachPartition(0x00FF, 0x00FF, 0, true);
    return true;
}
