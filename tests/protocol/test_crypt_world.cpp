// Cross test with the simulated world (tools/world, Python, its own Twofish binding, zlib and
// Base64): each side reads what the other wrote.
#include "foundation/Json.h"
#include "protocol/CryptITV.h"

#include <gtest/gtest.h>

#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <zlib.h>

extern char** environ;

namespace {

const char kKey[] = "Zx9-Kc3.Wq7_Nv1+Ht5=Bp8:Lm2,Rs6"; // 31 printable characters
const char* const kMethods[] = {"TwoFish", "TwoFishBase64", "ZipTwoFishBase64"};

std::string WorldTool() {
    return std::string(DL_SOURCE_DIR) + "/tools/world";
}

// Runs /usr/bin/python3 tools/world with the arguments; returns its exit status and its output.
int RunWorld(const std::vector<std::string>& args, std::string& out) {
    std::vector<std::string> all = {"/usr/bin/python3", WorldTool()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out.clear();
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Line(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

class CryptWorld : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat st;
        if (stat(WorldTool().c_str(), &st) != 0) GTEST_SKIP() << "no tools/world in " << DL_SOURCE_DIR;
    }
};

const std::string kTexts[] = {
    "func=LOGINCHECK&Token=t0k&sessionId=S1&usr=ana@example.com&pwd=p\xc3\xa4ss w\"rd",
    "x",
    "{\"errorMsg\":\"\",\"products\":[{\"id\":7,\"name\":\"Mapa \xc3\x89spa\xc3\xb1\x61\"}]}" +
        std::string(3000, '.'),
};

TEST_F(CryptWorld, WorldReadsWhatWeWrite) {
    for (const char* method : kMethods) {
        for (const std::string& text : kTexts) {
            TCryptITV crypt(method);
            crypt.Carga_Llave(kKey);
            DString enc;
            crypt.Encripta(text.c_str(), enc);
            std::string out;
            ASSERT_EQ(RunWorld({"decipher", "--method", method, "--key", kKey, enc.c_str()}, out), 0)
                << method;
            EXPECT_EQ(Line(out), text) << method;
        }
    }
}

TEST_F(CryptWorld, WeReadWhatTheWorldWrites) {
    for (const char* method : kMethods) {
        for (const std::string& text : kTexts) {
            std::string enc;
            ASSERT_EQ(RunWorld({"encipher", "--method", method, "--key", kKey, text}, enc), 0) << method;
            TCryptITV crypt(method);
            crypt.Carga_Llave(kKey);
            DString plain;
            ASSERT_TRUE(crypt.Desencripta(Line(enc).c_str(), plain)) << method << " " << enc;
            EXPECT_EQ(std::string(plain.c_str()), text) << method;
        }
    }
}

TEST_F(CryptWorld, InstallLinksBothWays) {
    // The world's link: Base64 of IV + Twofish-CBC of a zero-padded zlib stream of the JSON.
    std::string link;
    ASSERT_EQ(RunWorld({"link", "--user", "ana@example.com", "--password", "pw\xc3\xa9", "--token", "T0K",
                        "--session", "S-42", "--key", kKey},
                       link),
              0);
    link = Line(link);
    const std::string scheme = "quillinstallwizard:";
    ASSERT_EQ(link.rfind(scheme, 0), 0u) << link;
    TCryptITV crypt("TwoFishBase64");
    crypt.Carga_Llave(kKey);
    DString plain;
    DStringB bytes;
    ASSERT_TRUE(crypt.Desencripta(link.substr(scheme.size()).c_str(), plain, bytes));
    std::string stream(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.LengthB()));
    ASSERT_TRUE(ZipCompressionUtil::Decompress(stream));
    CJSON json;
    ASSERT_TRUE(json.Parse(stream.c_str())) << stream;
    EXPECT_TRUE(json.GetObjectValueTrue("loginOK"));
    EXPECT_STREQ(json.GetObjectValueString("email"), "ana@example.com");
    EXPECT_STREQ(json.GetObjectValueString("Pwd"), "pw\xc3\xa9");
    EXPECT_STREQ(json.GetObjectValueString("Token"), "T0K");
    EXPECT_STREQ(json.GetObjectValueString("SessionId"), "S-42");

    // Ours, built the same way, read by the world.
    const std::string doc = "{\"loginOK\":true,\"Email\":\"bo@example.com\",\"Pwd\":\"x\",\"Token\":\"TT\","
                            "\"sessionId\":\"S-7\",\"Idioma\":\"es\"}";
    std::string packed(compressBound(doc.size()) + 16, '\0');
    uLongf n = compressBound(doc.size());
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(&packed[0]), &n, reinterpret_cast<const Bytef*>(doc.data()),
                       doc.size()),
              Z_OK);
    packed.resize((n / 16 + 1) * 16, '\0');
    uint8_t iv[16];
    Rand::RandomBytes(iv, 16);
    TCryptTwoFish twofish(kKey, static_cast<int>(std::strlen(kKey)), iv);
    ASSERT_TRUE(twofish.EncriptaB(reinterpret_cast<uint8_t*>(&packed[0]), static_cast<int>(packed.size())));
    const std::string ours =
        scheme + String_to_Base64Str((std::string(reinterpret_cast<char*>(iv), 16) + packed).data(),
                                     16 + packed.size());
    std::string read;
    ASSERT_EQ(RunWorld({"readlink", "--key", kKey, "--raw", ours}, read), 0);
    EXPECT_EQ(Line(read), doc);
}

} // namespace
