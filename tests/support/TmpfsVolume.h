// Real small volumes for tests: a tmpfs of N MB mounted at a path inside a private mount
// namespace of the test process, for disk-full, read-only and removable-volume tests.
//
//   TEST(Copy, DiskFull) {
//       dltest::TempDir dir;
//       DL_TMPFS_OR_SKIP(vol, dir.Path("vol"), 2);   // 2 MB tmpfs at <dir>/vol, or GTEST_SKIP
//       ... fill vol.path() ...
//       ASSERT_TRUE(vol.RemountReadOnly());           // now every write fails with EROFS
//   }
//
// Rules:
// - Create volumes before the test starts any thread: the private namespace is entered by
//   unshare(CLONE_NEWNS) in the calling thread, and threads that already exist stay outside it.
//   ctest runs every test in its own process, so each test gets a fresh namespace.
// - The first volume of a process enters the namespace (once) and makes every mount private
//   (MS_REC|MS_PRIVATE on "/"), so nothing mounted here is seen by the rest of the machine and
//   everything disappears when the process ends.
// - Missing folders of the mount path are created and removed again by the destructor. For a
//   path in a system folder (for example /run/media/<user>/NAME), first cover the top folder
//   with a scratch volume (`TmpfsVolume run("/run", 1)`) so that nothing is written to the real
//   disk; a covered folder shows only what the test puts there.
// - Not permitted (no CAP_SYS_ADMIN, i.e. not root): ok() is false, not_permitted() true and
//   error() gives the reason; DL_TMPFS_OR_SKIP turns that into GTEST_SKIP() with the reason and
//   any other failure into a test failure.
// - Remounting read-only fails with EBUSY while a file on the volume is open for writing.
#pragma once

#include <cstddef>
#include <string>

namespace dltest {

class TmpfsVolume {
public:
    // Mounts a tmpfs of size_mb megabytes at path (created when missing). Check ok().
    TmpfsVolume(const std::string& path, int size_mb);
    // Unmounts (when still mounted) and removes the folders the constructor created.
    ~TmpfsVolume();
    TmpfsVolume(const TmpfsVolume&) = delete;
    TmpfsVolume& operator=(const TmpfsVolume&) = delete;

    bool ok() const { return mounted_; }
    // True when the failure was a missing privilege (EPERM/EACCES): skip rather than fail.
    bool not_permitted() const { return not_permitted_; }
    // Why the volume is not mounted (or why the last call failed).
    const std::string& error() const { return error_; }
    // The mount point, without a final '/'.
    const std::string& path() const { return path_; }

    // mount -o remount,ro / remount,rw. False (with error()) on failure.
    bool RemountReadOnly();
    bool RemountReadWrite();
    // Unmounts now (the volume "goes away"); the mount-point folder stays until destruction.
    bool Unmount();

private:
    bool Remount(bool read_only);
    std::string path_;
    std::string error_;
    std::string created_top_; // the first folder the constructor had to create, or empty
    bool mounted_ = false;
    bool not_permitted_ = false;
};

// Fills the volume mounted at `path` with a file "filler", then frees `leave` bytes of it. False
// when the file cannot be made or the volume held no more than `leave` free bytes.
bool FillVolume(const std::string& path, size_t leave);

// Enters a private mount namespace for this process (once; later calls return the first
// result). False with *why when not permitted. Call before starting threads.
bool EnterPrivateMountNamespace(std::string* why);

} // namespace dltest

// Declares `TmpfsVolume var(path, size_mb)` in a test body (include gtest first): skips the
// test when not permitted, fails it when the mount fails for another reason.
#define DL_TMPFS_OR_SKIP(var, at_path, size_mb)                                                              \
    ::dltest::TmpfsVolume var((at_path), (size_mb));                                                         \
    if (!var.ok()) {                                                                                         \
        if (var.not_permitted())                                                                             \
            GTEST_SKIP() << "needs a private mount namespace (run as root): " << var.error();                \
        FAIL() << "tmpfs at " << var.path() << ": " << var.error();                                          \
    }
