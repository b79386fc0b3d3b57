// SPDX-License-Identifier: Apache-2.0
#include "EmulatorFixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PlatformLayer.h"
#include "secureKaver.h"
#include "zemt_emulator/Disks.h"

namespace fs = std::filesystem;

namespace {

std::vector<unsigned> parseHex(const std::string& text) {
    std::vector<unsigned> bytes;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        if (word == "-") return {};
        bytes.push_back(static_cast<unsigned>(std::stoul(word, nullptr, 16)));
    }
    return bytes;
}

std::string trim(const std::string& text) {
    std::string::size_type first = text.find_first_not_of(' ');
    std::string::size_type last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

std::string readFile(const std::string& path) {
    std::string text;
    zemt_emu::ReadWholeFile(path, text);
    return text;
}

}  // namespace

bool LoggedRequest::Is(std::initializer_list<unsigned> prefix) const {
    if (request.size() < prefix.size()) return false;
    std::size_t i = 0;
    for (unsigned byte : prefix)
        if (request[i++] != byte) return false;
    return true;
}

std::string ProcessDirectory() { return CPlatformLayer::getCurrentProcessDirectory(); }

nlohmann::json ParseJson(const std::string& text) {
    nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    EXPECT_FALSE(value.is_discarded()) << "not one JSON document: " << text;
    return value.is_discarded() ? nlohmann::json() : value;
}

std::string VaryingBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

void EmulatorTest::SetUp() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zemt-e2e-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    ASSERT_NE(mkdtemp(buffer.data()), nullptr);
    tempDir_ = buffer.data();
    workDir_ = tempDir_ + "/work";
    stateDir_ = tempDir_ + "/state";
    fs::create_directories(workDir_);
    savedCwd_ = fs::current_path().string();
    fs::current_path(workDir_);
    const char* env = std::getenv(zemt_emu::kStateDirEnv);
    hadEnv_ = env != nullptr;
    if (hadEnv_) savedEnv_ = env;
    // The generation is cached per process; every test starts unlearned.
    GenerationType = Failure;
}

void EmulatorTest::TearDown() {
    CPlatformLayer::SetPlatform(nullptr);
    host_.reset();
    GenerationType = Failure;
    if (hadEnv_)
        setenv(zemt_emu::kStateDirEnv, savedEnv_.c_str(), 1);
    else
        unsetenv(zemt_emu::kStateDirEnv);
    if (!savedCwd_.empty()) fs::current_path(savedCwd_);
    std::error_code ec;
    if (!tempDir_.empty() && !HasFailure()) fs::remove_all(tempDir_, ec);
}

void EmulatorTest::Init(const std::function<void(zemt_emu::InitOptions&)>& configure) {
    zemt_emu::InitOptions options;
    options.dir = stateDir_;
    options.trenLibrary = ZEMT_E2E_TREN_LIBRARY;
    if (configure) configure(options);
    std::string error;
    ASSERT_TRUE(zemt_emu::InitStateDir(options, error)) << error;
    host_.reset(new CEmulatedHost(stateDir_));
    CPlatformLayer::SetPlatform(host_.get());
}

void EmulatorTest::Fresh(const std::function<void(zemt_emu::InitOptions&)>& configure) {
    TearDown();
    SetUp();
    Init(configure);
}

void EmulatorTest::Fault(const std::string& line) {
    std::string error;
    ASSERT_TRUE(zemt_emu::AppendFault(stateDir_, line, error)) << line << ": " << error;
}

std::vector<LoggedRequest> EmulatorTest::Requests() const {
    std::vector<LoggedRequest> requests;
    std::istringstream in(readFile(stateDir_ + "/" + zemt_emu::files::kRequestLog));
    std::string line;
    while (std::getline(in, line)) {
        LoggedRequest r;
        std::istringstream words(line);
        words >> r.time >> r.kind;
        if (r.kind != "free") {
            std::string rest;
            std::getline(words, rest);
            std::vector<std::string> parts;
            std::string::size_type pos = 0, bar;
            while ((bar = rest.find(" | ", pos)) != std::string::npos) {
                parts.push_back(rest.substr(pos, bar - pos));
                pos = bar + 3;
            }
            parts.push_back(rest.substr(pos));
            EXPECT_EQ(parts.size(), 3u) << line;
            if (parts.size() == 3) {
                r.request = parseHex(parts[0]);
                r.response = parseHex(parts[1]);
                r.rest = trim(parts[2]);
                std::string::size_type status = r.rest.find("status=");
                if (status != std::string::npos)
                    r.status = r.rest.substr(status + 7, r.rest.find(' ', status) - status - 7);
            }
        }
        requests.push_back(r);
    }
    return requests;
}

long EmulatorTest::CountRequests(std::initializer_list<unsigned> prefix, std::size_t from) const {
    std::vector<LoggedRequest> requests = Requests();
    long n = 0;
    for (std::size_t i = from; i < requests.size(); ++i)
        if (requests[i].Is(prefix)) ++n;
    return n;
}

std::vector<LoggedCommand> EmulatorTest::Commands() const {
    std::vector<LoggedCommand> commands;
    std::istringstream in(readFile(stateDir_ + "/" + zemt_emu::files::kHostCommandLog));
    std::string line;
    while (std::getline(in, line)) {
        LoggedCommand c;
        std::string::size_type t1 = line.find('\t');
        std::string::size_type t2 = line.find('\t', t1 + 1);
        std::string::size_type t3 = line.find('\t', t2 + 1);
        if (t3 == std::string::npos) {
            ADD_FAILURE() << "malformed command log line: " << line;
            continue;
        }
        c.time = std::stoul(line.substr(0, t1));
        c.kind = line.substr(t1 + 1, t2 - t1 - 1);
        c.status = std::stoi(line.substr(t2 + 1, t3 - t2 - 1));
        c.text = line.substr(t3 + 1);
        commands.push_back(c);
    }
    return commands;
}

std::vector<std::string> EmulatorTest::CommandTexts() const {
    std::vector<std::string> texts;
    for (const LoggedCommand& c : Commands()) texts.push_back(c.text);
    return texts;
}

unsigned long EmulatorTest::Clock() const { return zemt_emu::ReadClock(stateDir_); }

std::string EmulatorTest::ControllerState(const std::string& key) const {
    zemt_emu::KeyValueFile state;
    state.Load(stateDir_ + "/" + zemt_emu::files::kControllerState);
    return state.Get(key);
}

std::string EmulatorTest::HostSetting(const std::string& key) const {
    zemt_emu::KeyValueFile conf;
    conf.Load(stateDir_ + "/" + zemt_emu::files::kHostConf);
    return conf.Get(key);
}

std::string EmulatorTest::InRoot(const std::string& hostPath) const {
    return stateDir_ + "/root" + hostPath;
}

bool EmulatorTest::RootHas(const std::string& hostPath) const {
    std::error_code ec;
    return fs::exists(InRoot(hostPath), ec);
}

void EmulatorTest::WriteWorkFile(const std::string& name, const std::string& text) const {
    std::ofstream out((workDir_ + "/" + name).c_str());
    out << text;
}

std::unique_ptr<secureKaver> EmulatorTest::Start() {
    std::unique_ptr<secureKaver> kaver(new secureKaver);
    EXPECT_TRUE(kaver->secureKaverInit()) << int(kaver->getZEMTError());
    return kaver;
}

std::string EmulatorTest::Image(const std::string& name) const { return stateDir_ + "/partitions/" + name; }

std::string EmulatorTest::ImageFile(const std::string& image, const std::string& name) const {
    std::string out;
    int status = zemt_emu::RunTool({"mtype", "-i", image, "::" + name}, &out);
    return status == 0 ? out : "<missing>";
}

bool EmulatorTest::ImageHasDir(const std::string& image, const std::string& name) const {
    return zemt_emu::RunTool({"mdir", "-b", "-i", image, "::" + name + "/"}) == 0;
}

void EmulatorTest::ExpectNothingMounted(const std::string& label) const {
    EXPECT_EQ(readFile(InRoot("/proc/mounts")), "");
    EXPECT_EQ(readFile(stateDir_ + "/" + zemt_emu::files::kMounts), "");
    EXPECT_FALSE(RootHas("/tmp/" + label)) << "mount directory of " << label;
    std::error_code ec;
    for (fs::directory_iterator it(InRoot("/dev"), ec), end; !ec && it != end; it.increment(ec))
        EXPECT_NE(it->path().filename().string().rfind("seckavupd-", 0), 0u) << it->path();
}

pid_t EmulatorTest::Launch(const std::string& dir, const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env, const std::string& tag) const {
    std::string outPath = tempDir_ + "/" + tag + ".out";
    std::string errPath = tempDir_ + "/" + tag + ".err";
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        if (chdir(dir.c_str()) != 0) _exit(126);
        for (const auto& setting : env) {
            if (setting.second.empty())
                unsetenv(setting.first.c_str());
            else
                setenv(setting.first.c_str(), setting.second.c_str(), 1);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

ProcessResult EmulatorTest::Finish(pid_t pid, const std::string& tag) const {
    ProcessResult result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(tempDir_ + "/" + tag + ".out");
    result.err = readFile(tempDir_ + "/" + tag + ".err");
    return result;
}

ProcessResult EmulatorTest::RunIn(const std::string& dir, const std::vector<std::string>& argv,
                                  const std::map<std::string, std::string>& env) const {
    return Finish(Launch(dir, argv, env, "run"), "run");
}

ProcessResult EmulatorTest::Run(const std::vector<std::string>& argv,
                                const std::map<std::string, std::string>& env) const {
    return RunIn(workDir_, argv, env);
}

ProcessResult EmulatorTest::RunZemt(const std::vector<std::string>& args,
                                    const std::map<std::string, std::string>& env) const {
    std::vector<std::string> argv = {ZEMT_E2E_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv, env);
}

ProcessResult EmulatorTest::Zemt(std::vector<std::string> words) const {
    words.insert(words.begin(), {"--emulator", stateDir_});
    return RunZemt(words);
}
