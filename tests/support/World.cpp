#include "World.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace dltest {

namespace {

const char* const kPython = "/usr/bin/python3";

// Runs argv with stdout to out_fd (or a pipe when out_fd < 0 and capture is given) and the
// rest to log_fd; returns the child's pid.
pid_t Spawn(const std::vector<std::string>& argv, int out_fd, int log_fd, bool own_group) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (own_group) setpgid(0, 0);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        if (out_fd >= 0) dup2(out_fd, 1);
        if (log_fd >= 0) dup2(log_fd, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid > 0 && own_group) setpgid(pid, pid);
    return pid;
}

// A tiny JSON reader, enough for world.json.
class Flattener {
public:
    Flattener(const std::string& t, std::map<std::string, std::string>& out) : t_(t), out_(out) {}
    bool Run() {
        Space();
        if (!Value("")) return false;
        Space();
        return i_ == t_.size();
    }

private:
    void Space() {
        while (i_ < t_.size() && isspace(static_cast<unsigned char>(t_[i_])))
            ++i_;
    }
    static std::string Join(const std::string& path, const std::string& key) {
        return path.empty() ? key : path + "." + key;
    }
    bool String(std::string& s) {
        if (i_ >= t_.size() || t_[i_] != '"') return false;
        for (++i_; i_ < t_.size(); ++i_) {
            char c = t_[i_];
            if (c == '"') {
                ++i_;
                return true;
            }
            if (c != '\\') {
                s += c;
                continue;
            }
            if (++i_ >= t_.size()) return false;
            switch (t_[i_]) {
            case 'n':
                s += '\n';
                break;
            case 't':
                s += '\t';
                break;
            case 'r':
                s += '\r';
                break;
            case 'b':
                s += '\b';
                break;
            case 'f':
                s += '\f';
                break;
            case 'u': {
                if (i_ + 4 >= t_.size()) return false;
                unsigned cp = std::stoul(t_.substr(i_ + 1, 4), nullptr, 16);
                i_ += 4;
                if (cp < 0x80) {
                    s += static_cast<char>(cp);
                } else if (cp < 0x800) {
                    s += static_cast<char>(0xC0 | (cp >> 6));
                    s += static_cast<char>(0x80 | (cp & 0x3F));
                } else {
                    s += static_cast<char>(0xE0 | (cp >> 12));
                    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                    s += static_cast<char>(0x80 | (cp & 0x3F));
                }
                break;
            }
            default:
                s += t_[i_];
            }
        }
        return false;
    }
    bool Value(const std::string& path) {
        Space();
        if (i_ >= t_.size()) return false;
        size_t start = i_;
        char c = t_[i_];
        if (c == '{' || c == '[') {
            bool object = c == '{';
            ++i_;
            Space();
            int index = 0;
            if (i_ < t_.size() && t_[i_] == (object ? '}' : ']')) {
                ++i_;
            } else {
                for (;;) {
                    std::string key;
                    if (object) {
                        Space();
                        if (!String(key)) return false;
                        Space();
                        if (i_ >= t_.size() || t_[i_] != ':') return false;
                        ++i_;
                    } else {
                        key = std::to_string(index++);
                    }
                    if (!Value(Join(path, key))) return false;
                    Space();
                    if (i_ < t_.size() && t_[i_] == ',') {
                        ++i_;
                        continue;
                    }
                    if (i_ < t_.size() && t_[i_] == (object ? '}' : ']')) {
                        ++i_;
                        break;
                    }
                    return false;
                }
            }
            if (!path.empty()) out_[path] = t_.substr(start, i_ - start);
            return true;
        }
        if (c == '"') {
            std::string s;
            if (!String(s)) return false;
            out_[path] = s;
            return true;
        }
        while (i_ < t_.size() && t_[i_] != ',' && t_[i_] != '}' && t_[i_] != ']' &&
               !isspace(static_cast<unsigned char>(t_[i_])))
            ++i_;
        if (i_ == start) return false;
        out_[path] = t_.substr(start, i_ - start);
        return true;
    }

    const std::string& t_;
    std::map<std::string, std::string>& out_;
    size_t i_ = 0;
};

} // namespace

bool FlattenJson(const std::string& text, std::map<std::string, std::string>& out) {
    try {
        return Flattener(text, out).Run();
    } catch (...) {
        return false;
    }
}

std::string SourceDir() {
    const char* env = getenv("DL_SOURCE_DIR");
    if (env && *env) return env;
#ifdef DL_SOURCE_DIR
    return DL_SOURCE_DIR;
#else
    return ".";
#endif
}

World::World(const std::vector<std::string>& extra_args) : dir_("dlworld") {
    // `world up` returns once every server listens; the servers run on in a daemon of their own.
    std::vector<std::string> args = {"up"};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    int code = -1;
    Tool(args, &code);
    if (code != 0 || !Reload()) {
        error_ = "the world did not start: " + ReadWholeFile(dir_.Path("tool.log")) +
                 ReadWholeFile(dir_.Path("daemon.out"));
        return;
    }
    pid_ = atoi(Get("pid").c_str());
    ok_ = true;
}

World::~World() {
    if (!ok_) return;
    int code = -1;
    Tool({"down"}, &code);
    // Never leave a daemon behind, even when `down` failed.
    if (pid_ > 0 && kill(pid_, 0) == 0) {
        std::string cmd = ReadWholeFile("/proc/" + std::to_string(pid_) + "/cmdline");
        if (cmd.find("world_lib.daemon") != std::string::npos) kill(pid_, SIGKILL);
    }
}

bool World::Fault(const std::string& path, const std::string& steps) const {
    int code = -1;
    std::string out = Tool({"fault", path, steps}, &code);
    return code == 0 && out.find("\"ok\": true") != std::string::npos;
}

std::vector<World::Record> World::Records(const std::string& server) const {
    std::vector<Record> out;
    std::istringstream in(ReadWholeFile(dir_.Path("records.jsonl")));
    std::string line;
    while (std::getline(in, line)) {
        Record r;
        if (line.empty() || !FlattenJson(line, r)) continue; // a line being written right now
        if (server.empty() || r["server"] == server) out.push_back(r);
    }
    // A request is recorded when it ends, so a client's next request can be recorded first:
    // order by arrival. A record without one keeps its place after the one before it.
    std::vector<std::pair<long long, size_t>> keys;
    long long last = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        auto a = out[i].find("arrival");
        if (a != out[i].end()) last = std::atoll(a->second.c_str());
        keys.emplace_back(last, i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<Record> ordered;
    ordered.reserve(out.size());
    for (const auto& k : keys)
        ordered.push_back(std::move(out[k.second]));
    return ordered;
}

std::vector<World::Record> World::WaitRecords(const std::string& server, size_t count, int timeout_ms) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::vector<Record> r = Records(server);
        if (r.size() >= count || std::chrono::steady_clock::now() > deadline) return r;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string GeneratedBytes(uint32_t seed, int64_t start, int64_t length) {
    const int64_t kPeriod = 65521;
    std::string pattern(static_cast<size_t>(kPeriod), '\0');
    uint32_t x = seed;
    for (int64_t j = 0; j < kPeriod; ++j) {
        x = x * 1103515245u + 12345u;
        pattern[static_cast<size_t>(j)] = static_cast<char>((x >> 16) & 0xFF);
    }
    std::string out;
    out.reserve(static_cast<size_t>(length));
    for (int64_t o = start; o < start + length; ++o)
        out += pattern[static_cast<size_t>(o % kPeriod)];
    return out;
}

bool World::Reload() {
    std::map<std::string, std::string> values;
    // world.json is written whole; a half-written file fails to parse and is read again later.
    if (!FlattenJson(ReadWholeFile(dir_.Path("world.json")), values)) return false;
    values_.swap(values);
    return true;
}

std::string World::Get(const std::string& dotted_key) const {
    auto it = values_.find(dotted_key);
    return it == values_.end() ? std::string() : it->second;
}

std::string World::Tool(const std::vector<std::string>& args, int* exit_code) const {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (exit_code) *exit_code = -1;
        return std::string();
    }
    std::vector<std::string> argv = {kPython, SourceDir() + "/tools/world"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--dir");
    argv.push_back(dir_.path());
    std::string log = dir_.Path("tool.log");
    int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_t pid = Spawn(argv, fds[1], log_fd, false);
    close(fds[1]);
    if (log_fd >= 0) close(log_fd);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    if (exit_code) *exit_code = pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

} // namespace dltest
