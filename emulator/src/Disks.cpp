// SPDX-License-Identifier: Apache-2.0
#include "zemt_emulator/Disks.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "zemt_emulator/State.h"

extern char** environ;

namespace fs = std::filesystem;

namespace zemt_emu {

namespace files {
const char* const kDisks = "disks";
const char* const kMounts = "mounts";
const char* const kPartitions = "partitions";
}  // namespace files

namespace {

const long kStale = -2;  // detached, but still listed in /proc/scsi/scsi

std::string scsiEntry(const Disk& d) {
    char head[96];
    std::snprintf(head, sizeof head, "Host: scsi%d Channel: 00 Id: 00 Lun: 00\n", d.host);
    std::string model = d.emulated ? d.label : "SYSTEM DISK";
    model.resize(16, ' ');
    return std::string(head) + "  Vendor: Norvik   Model: " + model + " Rev: 1.00\n" +
           "  Type:   Direct-Access                    ANSI  SCSI revision: 02\n";
}

}  // namespace

bool DiskTable::Load(const std::string& dir) {
    disks_.clear();
    std::ifstream in(JoinPath(dir, files::kDisks).c_str());
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        Disk d;
        int emulated = 1;
        if (!(words >> d.id >> d.label >> d.sd >> d.sg >> d.host >> emulated >> d.offset >> d.scansLeft))
            continue;
        d.emulated = emulated != 0;
        std::getline(words >> std::ws, d.image);
        disks_.push_back(d);
    }
    return true;
}

bool DiskTable::Save(const std::string& dir) const {
    std::ostringstream out;
    out << "# ID LABEL SD SG HOST EMULATED OFFSET SCANS_LEFT IMAGE (see emulator/README.md)\n";
    for (const Disk& d : disks_)
        out << d.id << ' ' << d.label << ' ' << d.sd << ' ' << d.sg << ' ' << d.host << ' '
            << (d.emulated ? 1 : 0) << ' ' << d.offset << ' ' << d.scansLeft << ' ' << d.image << '\n';
    std::string path = JoinPath(dir, files::kDisks);
    std::string temp = path + ".new";
    return WriteWholeFile(temp, out.str()) && std::rename(temp.c_str(), path.c_str()) == 0;
}

Disk* DiskTable::FindById(const std::string& id) {
    for (Disk& d : disks_)
        if (d.id == id && d.scansLeft != kStale) return &d;
    return nullptr;
}

Disk* DiskTable::FindByNode(const std::string& node) {
    for (Disk& d : disks_) {
        if (d.scansLeft == kStale) continue;
        if (node == d.sd || node == d.sg || (d.offset > 0 && node == d.PartitionNode())) return &d;
    }
    return nullptr;
}

Disk DiskTable::Allocate(const std::string& id) const {
    std::set<std::string> sds, sgs;
    std::set<int> hosts;
    for (const Disk& d : disks_) {
        hosts.insert(d.host);
        if (d.scansLeft == kStale) continue;
        sds.insert(d.sd);
        sgs.insert(d.sg);
    }
    Disk d;
    d.id = id;
    for (char c = 'b'; c <= 'z'; ++c) {
        std::string name = std::string("sd") + c;
        if (!sds.count(name)) {
            d.sd = name;
            break;
        }
    }
    for (int n = 1;; ++n) {
        if (!sgs.count("sg" + std::to_string(n))) {
            d.sg = "sg" + std::to_string(n);
            break;
        }
    }
    for (int h = 2;; ++h) {
        if (!hosts.count(h)) {
            d.host = h;
            break;
        }
    }
    return d;
}

void DiskTable::Remove(const std::string& id) {
    for (Disk& d : disks_) {
        // The SCSI listing keeps a detached USB disk until someone removes it.
        if (d.id == id && d.scansLeft != kStale) {
            if (d.Visible()) {
                d.scansLeft = kStale;
                d.id = "stale";
            } else {
                d.id.clear();
            }
        }
    }
    std::vector<Disk> kept;
    for (const Disk& d : disks_)
        if (!d.id.empty()) kept.push_back(d);
    disks_.swap(kept);
}

void SyncDiskNodes(const std::string& dir, const DiskTable& constTable) {
    DiskTable& table = const_cast<DiskTable&>(constTable);
    fs::path root = fs::path(dir) / files::kRoot;
    fs::path dev = root / "dev";
    fs::path sysfs = root / "sys/class/scsi_generic";
    std::error_code ec;
    fs::create_directories(dev, ec);
    fs::create_directories(sysfs, ec);

    std::set<std::string> wanted;
    std::string listing = "Attached devices:\n";
    for (const Disk& d : table.Disks()) {
        if (d.Visible() || d.scansLeft == kStale) listing += scsiEntry(d);
        if (!d.Visible()) continue;
        wanted.insert(d.sd);
        wanted.insert(d.sg);
        if (d.offset > 0) wanted.insert(d.PartitionNode());
        for (const std::string& node : {d.sd, d.sg, d.PartitionNode()}) {
            if (node.empty()) continue;
            fs::path link = dev / node;
            if (fs::read_symlink(link, ec) != fs::path(d.image)) {
                fs::remove(link, ec);
                fs::create_symlink(d.image, link, ec);
            }
        }
        fs::create_directories(sysfs / d.sg, ec);
        WriteWholeFile((sysfs / d.sg / "dev").string(), "21:" + d.sg.substr(2) + "\n");
    }
    // Nodes of disks that went away vanish.
    for (fs::directory_iterator it(dev, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        bool diskNode = (name.compare(0, 2, "sd") == 0 || name.compare(0, 2, "sg") == 0) &&
                        it->is_symlink(ec);
        if (diskNode && !wanted.count(name)) fs::remove(it->path(), ec);
    }
    for (fs::directory_iterator it(sysfs, ec), end; !ec && it != end; it.increment(ec)) {
        if (!wanted.count(it->path().filename().string())) fs::remove_all(it->path(), ec);
    }
    fs::create_directories(root / "proc/scsi", ec);
    WriteWholeFile((root / "proc/scsi/scsi").string(), listing);
}

std::vector<MountRecord> LoadMounts(const std::string& dir) {
    std::vector<MountRecord> mounts;
    std::string text;
    ReadWholeFile(JoinPath(dir, files::kMounts), text);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::string::size_type pos = 0, tab;
        while ((tab = line.find('\t', pos)) != std::string::npos) {
            fields.push_back(line.substr(pos, tab - pos));
            pos = tab + 1;
        }
        fields.push_back(line.substr(pos));
        if (fields.size() != 6) continue;
        MountRecord m;
        m.dir = fields[0];
        m.device = fields[1];
        m.image = fields[2];
        m.offset = std::atol(fields[3].c_str());
        m.label = fields[4];
        m.readWrite = fields[5] == "rw";
        mounts.push_back(m);
    }
    return mounts;
}

void SaveMounts(const std::string& dir, const std::vector<MountRecord>& mounts) {
    std::string table, proc;
    for (const MountRecord& m : mounts) {
        table += m.dir + "\t" + m.device + "\t" + m.image + "\t" + std::to_string(m.offset) + "\t" + m.label +
                 "\t" + (m.readWrite ? "rw" : "ro") + "\n";
        proc += m.device + " " + m.dir + " vfat " + (m.readWrite ? "rw" : "ro") +
                ",relatime,fmask=0022,dmask=0022,codepage=437,iocharset=utf8,shortname=mixed 0 0\n";
    }
    WriteWholeFile(JoinPath(dir, files::kMounts), table);
    WriteWholeFile(JoinPath(JoinPath(dir, files::kRoot), "proc/mounts"), proc);
}

namespace {

// A scratch file in memory: a killed run leaves nothing behind.
int scratchFile() { return memfd_create("zemt-emu-tool", MFD_CLOEXEC); }

void readBack(int fd, std::string& text) {
    text.clear();
    char buffer[4096];
    ssize_t n;
    lseek(fd, 0, SEEK_SET);
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
}

}  // namespace

int RunTool(const std::vector<std::string>& argv, std::string* output, std::string* errors) {
    int outFd = scratchFile();
    if (outFd < 0) return -1;
    int errFd = errors != nullptr ? scratchFile() : outFd;
    if (errFd < 0) {
        close(outFd);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    // Settings the emulator relies on: images of any geometry are fine, file
    // names are UTF-8 whatever the caller's locale, listings have one date
    // format; and the tool must not load the emulator.
    static const char* const kPinned[] = {"MTOOLS_SKIP_CHECK=1", "MTOOLS_DATE_STRING=yyyy-mm-dd",
                                          "MTOOLS_TWENTY_FOUR_HOUR_CLOCK=1", "LC_ALL=C.UTF-8"};
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string setting = *e;
        std::string name = setting.substr(0, setting.find('=') + 1);
        bool pinned = name == "LD_PRELOAD=";
        for (const char* p : kPinned) pinned = pinned || std::strncmp(p, name.c_str(), name.size()) == 0;
        if (!pinned) env.push_back(setting);
    }
    env.insert(env.end(), std::begin(kPinned), std::end(kPinned));
    std::vector<char*> envp, args;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> copy = argv;
    for (std::string& a : copy) args.push_back(&a[0]);
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    if (rc == 0) {
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    }
    if (output != nullptr) readBack(outFd, *output);
    if (errors != nullptr) {
        readBack(errFd, *errors);
        close(errFd);
    }
    close(outFd);
    return status;
}

std::string Md5OfFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "-1";
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) == 1;
    std::vector<unsigned char> block(1 << 20);
    ssize_t n;
    while (ok && ((n = read(fd, block.data(), block.size())) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0) ok = EVP_DigestUpdate(context.get(), block.data(), static_cast<std::size_t>(n)) == 1;
    ok = ok && n == 0;
    close(fd);
    unsigned char digest[16];
    unsigned int length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest, &length) != 1 || length != sizeof digest) return "-1";
    std::string text = HexBytes(digest, sizeof digest);
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

std::string MtoolsImage(const std::string& image, long offset) {
    return offset > 0 ? image + "@@" + std::to_string(offset) : image;
}

bool MakeFatImage(const std::string& path, long bytes, const std::string& label,
                  bool partitionTable, std::string& error) {
    if (bytes < kMinimumImageBytes) bytes = kMinimumImageBytes;
    bytes -= bytes % 512;
    long offset = partitionTable ? kPartitionOffset : 0;
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    fs::remove(path, ec);
    {
        std::ofstream create(path.c_str(), std::ios::binary);
        if (!create) {
            error = "cannot create " + path;
            return false;
        }
    }
    fs::resize_file(path, static_cast<std::uintmax_t>(offset + bytes), ec);  // sparse
    if (ec) {
        error = "cannot size " + path + ": " + ec.message();
        return false;
    }
    std::vector<std::string> argv = {"mkfs.fat", "-n", label};
    if (partitionTable) {
        argv.push_back("--offset");
        argv.push_back(std::to_string(offset / 512));
    }
    argv.push_back(path);
    argv.push_back(std::to_string(bytes / 1024));
    std::string output;
    int status = RunTool(argv, &output);
    if (status != 0) {
        error = "mkfs.fat failed for " + path + (status < 0 ? " (is dosfstools installed?)" : ": " + output);
        return false;
    }
    if (partitionTable) {
        // One primary FAT partition covering the file system, and the boot signature.
        unsigned char mbr[512] = {0};
        unsigned long start = static_cast<unsigned long>(offset / 512);
        unsigned long count = static_cast<unsigned long>(bytes / 512);
        unsigned char* entry = mbr + 446;
        entry[4] = 0x0C;  // FAT32 LBA; the label probe does not look at the type
        for (int i = 0; i < 4; ++i) {
            entry[8 + i] = static_cast<unsigned char>((start >> (8 * i)) & 0xFF);
            entry[12 + i] = static_cast<unsigned char>((count >> (8 * i)) & 0xFF);
        }
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
        std::fstream file(path.c_str(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(0);
        file.write(reinterpret_cast<const char*>(mbr), sizeof mbr);
        if (!file) {
            error = "cannot write the partition table of " + path;
            return false;
        }
    }
    return true;
}

}  // namespace zemt_emu
