#include "support/ArchiveFixtures.h"

#include "support/TempDir.h"

#include "foundation/DString.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace dltest {

namespace {

const char* const kGenerator = R"PY(
import gzip, io, json, sys, tarfile, zipfile

recipe = json.load(open(sys.argv[1]))

def name_of(m):
    return bytes.fromhex(m['name']).decode('utf-8')

def data_of(m):
    with open(m['data'], 'rb') as f:
        return f.read()

def make_zip(path):
    with zipfile.ZipFile(path, 'w', allowZip64=True) as zf:
        for m in recipe['members']:
            zi = zipfile.ZipInfo(name_of(m), date_time=(2021, 6, 1, 12, 0, 0))
            if m['folder']:
                zi.compress_type = zipfile.ZIP_STORED
                zi.external_attr = (0o40755 << 16) | 0x10
                zf.writestr(zi, b'')
                continue
            zi.compress_type = zipfile.ZIP_STORED if m['stored'] else zipfile.ZIP_DEFLATED
            zi.external_attr = 0o100644 << 16
            with zf.open(zi, 'w', force_zip64=m['zip64']) as w:
                w.write(data_of(m))

def make_tar(path):
    fmt = {'gnu': tarfile.GNU_FORMAT, 'pax': tarfile.PAX_FORMAT, 'ustar': tarfile.USTAR_FORMAT}[recipe['format']]
    buf = io.BytesIO()
    tf = tarfile.open(fileobj=buf, mode='w', format=fmt)
    for m in recipe['members']:
        ti = tarfile.TarInfo(name_of(m))
        ti.mtime = 1622548800
        ti.mode = 0o644
        t = m['tar_type']
        if t == '0':
            data = data_of(m)
            ti.size = len(data)
            tf.addfile(ti, io.BytesIO(data))
            continue
        ti.type = {'5': tarfile.DIRTYPE, '2': tarfile.SYMTYPE, '1': tarfile.LNKTYPE, '6': tarfile.FIFOTYPE}[t]
        ti.mode = 0o755 if t == '5' else 0o644
        ti.linkname = bytes.fromhex(m['link']).decode('utf-8')
        tf.addfile(ti)
    if recipe['end_block']:
        tf.close()
        raw = buf.getvalue()
    else:
        raw = buf.getvalue()[:tf.offset]
    if recipe['gzip']:
        raw = gzip.compress(raw)
    with open(path, 'wb') as f:
        f.write(raw)

path = recipe['path']
make_zip(path) if recipe['kind'] == 'zip' else make_tar(path)
if recipe['patches']:
    with open(path, 'rb') as f:
        raw = f.read()
    for a, b in recipe['patches']:
        a, b = bytes.fromhex(a), bytes.fromhex(b)
        assert len(a) == len(b) and a in raw, 'patch not applicable'
        raw = raw.replace(a, b)
    with open(path, 'wb') as f:
        f.write(raw)
)PY";

std::string Hex(const std::string& s) {
    return HexDigits(s.data(), s.size(), false);
}

// JSON string for a path made by this process (no characters that need escaping but these).
std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool Generate(const std::string& kind, const std::string& path, const std::vector<ArchiveMember>& members,
              const std::string& extra, const Patches& patches) {
    TempDir work("dlfixture");
    std::string recipe = "{\"kind\":" + Quote(kind) + ",\"path\":" + Quote(path) + extra + ",\"members\":[";
    for (size_t i = 0; i < members.size(); ++i) {
        const ArchiveMember& m = members[i];
        std::string data_path = work.Path(std::to_string(i) + ".bin");
        if (!WriteWholeFile(data_path, m.fill_size > 0 ? GeneratedContent(m.fill_size, m.fill) : m.data))
            return false;
        if (i) recipe += ",";
        recipe += "{\"name\":\"" + Hex(m.name) + "\",\"data\":" + Quote(data_path) +
                  ",\"stored\":" + (m.stored ? "true" : "false") +
                  ",\"zip64\":" + (m.zip64 ? "true" : "false") +
                  ",\"folder\":" + (m.folder ? "true" : "false") + ",\"tar_type\":\"" + m.tar_type +
                  "\",\"link\":\"" + Hex(m.link) + "\"}";
    }
    recipe += "],\"patches\":[";
    for (size_t i = 0; i < patches.size(); ++i)
        recipe += (i ? ",[\"" : "[\"") + Hex(patches[i].first) + "\",\"" + Hex(patches[i].second) + "\"]";
    recipe += "]}";
    std::string recipe_path = work.Path("recipe.json");
    if (!WriteWholeFile(recipe_path, recipe)) return false;
    return RunPython(kGenerator, {recipe_path});
}

} // namespace

std::string GeneratedContent(int64_t size, char fill) {
    std::string out(static_cast<size_t>(size), '\0');
    if (fill == 'z') return out;
    if (fill == 't') {
        std::string text;
        char line[64];
        for (long i = 0; static_cast<int64_t>(text.size()) < size; ++i) {
            std::snprintf(line, sizeof line, "%08ld a line of text in a packed file\n", i);
            text += line;
        }
        text.resize(static_cast<size_t>(size));
        return text;
    }
    uint64_t x = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(size);
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

bool RunPython(const std::string& program, const std::vector<std::string>& args) {
    TempDir work("dlpy");
    std::string script = work.Path("gen.py");
    if (!WriteWholeFile(script, program)) return false;
    std::string cmd = "/usr/bin/python3 '" + script + "'";
    for (const auto& a : args)
        cmd += " '" + a + "'";
    int r = std::system(cmd.c_str());
    return r != -1 && WIFEXITED(r) && WEXITSTATUS(r) == 0;
}

bool MakeZip(const std::string& path, const std::vector<ArchiveMember>& members, const Patches& patches) {
    return Generate("zip", path, members, "", patches);
}

bool MakeTar(const std::string& path, const std::vector<ArchiveMember>& members, TarFormat format, bool gzip,
             bool end_block, const Patches& patches) {
    const char* f = format == TarFormat::Gnu ? "gnu" : format == TarFormat::Pax ? "pax" : "ustar";
    std::string extra = std::string(",\"format\":\"") + f + "\",\"gzip\":" + (gzip ? "true" : "false") +
                        ",\"end_block\":" + (end_block ? "true" : "false");
    return Generate("tar", path, members, extra, patches);
}

} // namespace dltest
