// stage_files: copies files into a folder of one of the controller's
// static partitions through libzemt's public API, and has every copy read
// back and compared.
//
//     stage_files KAV022/fw firmware.bin notes.txt
//
// Against the emulator:  zemt emulator exec DIR -- stage_files KAV022/fw firmware.bin
//
// Which calls, and why:
//
//   - AddFile(source, "kav022/fw/firmware.bin", filecopy) -- the overload
//     that takes an action.  The destination names the partition by its
//     label folder in lower case, then the path on it; the library takes the
//     partition it later verifies from that folder.
//
//   - Not AddFile(source, dest, false): that overload takes the partition
//     from a leading decimal folder ("22/fw/firmware.bin").  Given the label
//     form it finds none, so the copy lands on the partition but the
//     read-back cannot find it and CompleteCopyFile fails with 47
//     (ZEMT_COPYVERIFYFAIL).
//
//   - CompleteCopyFile() hands the list over in drop-box passes, deletes
//     the drop box and reads every copy back: the completer for staging.
//     CompleteCopyFileSarn() fills the drop box the way generation-three
//     controllers stage a package (file copies and folders only) and leaves
//     it in place for sendIPMICommandToStageAndUpdate(), without reading
//     anything back; CompleteSignedUnzip() hands one signed package (.zip,
//     .zip.sig, package.xml) to the secure-update protocol.
#include <secureKaver.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int fail(secureKaver& kaver, const char* step) {
    std::fprintf(stderr, "stage_files: %s failed, error %u\n", step, kaver.getZEMTError());
    return 1;
}

std::string baseName(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The library checks and hashes each source when it is added, by the path
// given; an absolute path keeps meaning the same file.
std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char* resolved = realpath(path.c_str(), nullptr);
    std::string result = resolved != nullptr ? resolved : path;
    std::free(resolved);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: stage_files LABEL/FOLDER FILE...   (LABEL: KAV001 to KAV256)\n");
        return 2;
    }
    // "KAV022/fw" -> "kav022/fw/": the destination form of the copy list.
    std::string folder = argv[1];
    for (std::size_t i = 0; i < folder.size() && folder[i] != '/'; ++i)
        folder[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(folder[i])));
    if (folder.back() != '/') folder += '/';

    secureKaver kaver;  // prepares the host, loads the hardware-access library
    if (!kaver.InitOk) return fail(kaver, "starting the library");
    if (!kaver.secureKaverInit()) return fail(kaver, "initialising");  // opens the session

    if (!kaver.StartCopyFile()) return fail(kaver, "opening the copy list");
    for (int i = 2; i < argc; ++i) {
        const std::string source = absolute(argv[i]);
        if (!kaver.AddFile(source, folder + baseName(source), filecopy)) return fail(kaver, argv[i]);
    }
    const bool staged = kaver.CompleteCopyFile();
    kaver.EndCopyFile();
    if (!staged) return fail(kaver, "staging");
    for (const cfgEntry& entry : kaver.FileList)
        std::printf("%s  %s\n", entry.hash.c_str(), entry.dstName.c_str());
    return 0;  // the destructor closes the session
}
