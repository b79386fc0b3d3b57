/* SPDX-License-Identifier: Apache-2.0 */
// The emulated USB bus between the controller and the host: partition
// images, the disks the controller presents for attached partitions, and
// the sandbox device nodes that stand for them.  The controller adds and
// removes disks; the host makes a disk visible (possibly only after some
// scans) and answers the SCSI address requests from this table.
#ifndef ZEMT_EMULATOR_DISKS_H
#define ZEMT_EMULATOR_DISKS_H

#include <string>
#include <vector>

namespace zemt_emu {

namespace files {
extern const char* const kDisks;       // disk table (below)
extern const char* const kMounts;      // host mount table behind root/proc/mounts
extern const char* const kPartitions;  // directory of partition images
}  // namespace files

// Byte offset of the file system on a disk behind a partition table.
const long kPartitionOffset = 32 * 512;
// Smallest FAT image the emulator makes (mkfs.fat needs a few blocks).
const long kMinimumImageBytes = 64 * 1024;

struct Disk {
    std::string id;         // "static.BIT", "dynamic.BIT" or "system"
    std::string label;      // partition label ("-" for the system disk)
    std::string sd;         // "sdb"
    std::string sg;         // "sg1"
    int host = 0;           // SCSI host number; channel, id and lun are 0
    bool emulated = true;   // on an emulated SCSI host (USB storage)
    long offset = 0;        // file system offset: >0 means a partition table, node sdX1
    long scansLeft = 0;     // scans before it shows up; -1 never; 0 visible
    std::string image;      // absolute path of the image

    bool Visible() const { return scansLeft == 0; }
    std::string PartitionNode() const { return offset > 0 ? sd + "1" : ""; }
};

class DiskTable {
public:
    // The file is "ID LABEL SD SG HOST EMULATED OFFSET SCANS_LEFT IMAGE" per line.
    bool Load(const std::string& dir);
    bool Save(const std::string& dir) const;

    std::vector<Disk>& Disks() { return disks_; }
    Disk* FindById(const std::string& id);
    // By device node name: "sdb", "sdb1" or "sg1".
    Disk* FindByNode(const std::string& node);
    // A new disk record with the lowest free sd letter (from b), sg number
    // (from 1) and host number (from 2).
    Disk Allocate(const std::string& id) const;
    void Remove(const std::string& id);

private:
    std::vector<Disk> disks_;
};

// Makes root/dev and root/sys/class/scsi_generic agree with the table:
// nodes of visible disks exist (symlinks to the image), all others are gone.
// Also keeps root/proc/scsi/scsi listing every disk that was ever visible
// until a "scsi remove-single-entry" removes it (as older ESX hosts do).
void SyncDiskNodes(const std::string& dir, const DiskTable& table);

// A mount of the emulated host (DIR/mounts, shown as root/proc/mounts).
struct MountRecord {
    std::string dir;     // host path of the mount directory
    std::string device;  // host path of the device node (/dev/sdb1)
    std::string image;   // the partition image
    long offset = 0;
    std::string label;
    bool readWrite = false;
};
std::vector<MountRecord> LoadMounts(const std::string& dir);
void SaveMounts(const std::string& dir, const std::vector<MountRecord>& mounts);

// Runs a program (no shell, without LD_PRELOAD, in a fixed locale) with MTOOLS_SKIP_CHECK set;
// returns its exit status, or -1 when it could not be started.  Output is
// collected, standard error with it unless `errors` takes it apart.
int RunTool(const std::vector<std::string>& argv, std::string* output = nullptr, std::string* errors = nullptr);
// The MD5 of a file as lower-case hex, or "-1" when it cannot be read.
std::string Md5OfFile(const std::string& path);

// Makes a FAT image of `bytes` file-system bytes labelled `label`; with a
// partition table the file system starts at kPartitionOffset behind an MBR.
bool MakeFatImage(const std::string& path, long bytes, const std::string& label,
                  bool partitionTable, std::string& error);
// "IMAGE" or "IMAGE@@OFFSET", as mtools wants it.
std::string MtoolsImage(const std::string& image, long offset);

}  // namespace zemt_emu

#endif
