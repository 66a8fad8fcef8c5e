// The simulated world (tools/world) for C++ tests: web service, file server (HTTP and HTTPS with
// fault switches), statistics and support sinks on loopback.
//
//   dltest::World world;                                // starts it in a fresh temporary folder
//   ASSERT_TRUE(world.ok()) << world.error();
//   std::string base = world.Get("files_http.url");    // any value of world.json, by dotted path
//   std::string ca = world.Get("ca_file");             // the test certificate authority (PEM)
//   world.Tool({"fault", "/gen/1/100/a.bin", R"({"kind":"drop","after":10})"});
//                                                      // runs `tools/world <args> --dir <folder>`
//
// The constructor runs `/usr/bin/python3 $DL_SOURCE_DIR/tools/world up --dir <tmp> [extra args]`,
// which returns once every server listens (the servers live on in a daemon), and reads
// <tmp>/world.json. The destructor runs `world down` (and kills the daemon if that failed) and
// removes the folder. Tool output on stderr goes to <tmp>/tool.log, quoted in error() when the
// world fails to start. See tools/README.md for world.json, the fault steps and the recorded
// requests (records.jsonl). One World per test (or per suite, made in SetUpTestSuite); not
// thread-safe.
#pragma once

#include "TempDir.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dltest {

class World {
public:
    explicit World(const std::vector<std::string>& extra_args = {});
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    // The world's folder (world.json, the CA file, recorded requests...), without a final '/'.
    const std::string& dir() const { return dir_.path(); }
    std::string Path(const std::string& rel) const { return dir_.Path(rel); }

    // A value of world.json by dotted path ("files.https", "ports.0"); "" when absent. Strings
    // come without quotes, numbers and booleans as written, objects and arrays as JSON text.
    std::string Get(const std::string& dotted_key) const;
    const std::map<std::string, std::string>& Values() const { return values_; }
    // Reads world.json again (after a command that changes it).
    bool Reload();

    // Runs `tools/world <args> --dir <folder>` to its end; returns its standard output.
    std::string Tool(const std::vector<std::string>& args, int* exit_code = nullptr) const;
    // Scripts the file server's answers for one path (steps: a JSON step or list of steps, see
    // tools/README.md); true when the world accepted them.
    bool Fault(const std::string& path, const std::string& steps) const;

    using Record = std::map<std::string, std::string>; // one recorded request, flattened
    // The recorded requests (records.jsonl) in the order they arrived, only those of one server
    // ("files_http", "support"...) when given.
    std::vector<Record> Records(const std::string& server = "") const;
    // Records() once it holds at least `count` entries: a server records a request after its
    // answer, so a client may finish first. Waits up to timeout_ms.
    std::vector<Record> WaitRecords(const std::string& server, size_t count, int timeout_ms = 10000) const;

private:
    TempDir dir_;
    int pid_ = -1; // the daemon's
    bool ok_ = false;
    std::string error_;
    std::map<std::string, std::string> values_;
};

// Bytes [start, start + length) of the world's generated content of a seed (the bodies served
// under "/gen/SEED/SIZE/name").
std::string GeneratedBytes(uint32_t seed, int64_t start, int64_t length);

// Flattens a JSON text into dotted-path keys (objects by member name, arrays by index); every
// object and array is also stored whole under its own path. False on malformed text.
bool FlattenJson(const std::string& text, std::map<std::string, std::string>& out);

// The project's source folder: $DL_SOURCE_DIR, else the one the tests were built from.
std::string SourceDir();

} // namespace dltest
