// The FTP data adapters, driven the way the transfer engine drives them.
#include <gtest/gtest.h>

#include "files/FicheroITV_DataIO.h"
#include "foundation/Monitor.h"
#include "support/TempDir.h"

#include <string>

namespace {

// Calls the record as the engine does.
bool Block(TDataIOFtp& io, char* buffer, int& count) {
    return io.callback(io.object, buffer, &count);
}

} // namespace

TEST(DataIO, MemorySourceAndSinkStopAtTheirCapacity) {
    char src[] = "abcdefgh";
    TDataIOMem up(src, 5, true);
    char buf[8];
    int n = 3;
    ASSERT_TRUE(Block(up.io, buf, n));
    EXPECT_EQ(std::string(buf, size_t(n)), "abc");
    n = 8;
    ASSERT_TRUE(Block(up.io, buf, n));
    EXPECT_EQ(std::string(buf, size_t(n)), "de");
    n = 8;
    ASSERT_TRUE(Block(up.io, buf, n));
    EXPECT_EQ(n, 0); // the end of the upload

    char dst[4] = {};
    TDataIOMem down(dst, 3, false);
    n = 5;
    ASSERT_TRUE(Block(down.io, const_cast<char*>("vwxyz"), n));
    EXPECT_EQ(n, 3);
    EXPECT_EQ(std::string(dst, 3), "vwx");
    EXPECT_EQ(down.Queda(), 0);
}

TEST(DataIO, FileSinkAndSourceWithBudget) {
    dltest::TempDir dir;
    {
        TFicheroITV f;
        ASSERT_TRUE(f.Abre(dir.Path("down.bin").c_str(), 0x12));
        TDataIOTFicheroITV sink(f, false);
        int n = 4;
        ASSERT_TRUE(Block(sink.io, const_cast<char*>("data"), n));
        n = 0;
        ASSERT_TRUE(Block(sink.io, nullptr, n));
    }
    EXPECT_EQ(dir.Read("down.bin"), "data");

    ASSERT_TRUE(dir.Write("up.bin", "0123456789"));
    TFicheroITV f;
    ASSERT_TRUE(f.Abre(dir.Path("up.bin").c_str(), 0x11));
    TDataIOTFicheroITV source(f, true, 6);
    char buf[8];
    int n = 4;
    ASSERT_TRUE(Block(source.io, buf, n));
    EXPECT_EQ(std::string(buf, 4), "0123");
    n = 8;
    ASSERT_TRUE(Block(source.io, buf, n));
    EXPECT_EQ(std::string(buf, size_t(n)), "45");
    n = 8;
    ASSERT_TRUE(Block(source.io, buf, n));
    EXPECT_EQ(n, 0);
    // A budget beyond the file's end fails the upload instead of sending garbage.
    TDataIOTFicheroITV longer(f, true, 100);
    n = 8;
    EXPECT_FALSE(Block(longer.io, buf, n));
}

TEST(DataIO, StringSinkAndMonitor) {
    TMonitorProc mon;
    TDataIOWriteDString text(&mon);
    int n = 4096;
    ASSERT_TRUE(Block(text.io, nullptr, n)); // starts the monitor with the total
    EXPECT_EQ(mon.total.load(), 4096);
    EXPECT_EQ(mon.npasos.load(), 0);
    std::string block(2048, 'a');
    n = 2048;
    ASSERT_TRUE(Block(text.io, &block[0], n));
    EXPECT_STREQ(mon.texto.Get().c_str(), "KBytes: 2/4");
    EXPECT_EQ(text.Length(), 2048);
    mon.Cancelar();
    n = 10;
    EXPECT_FALSE(Block(text.io, &block[0], n));
    EXPECT_EQ(text.Length(), 2048);
}
