// Parameter files on file systems whose locking fails (NFS emulating flock with byte
// ranges, ENOLCK, EOPNOTSUPP): only a lock held by another opener means "in use".
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <cerrno>

#include "fdp/param/ParamStore.h"
#include "fdp/param/StandardBlock.h"
#include "tests/unit/param/ScratchDir.h"

namespace {

// The error the next flock calls fail with; 0 passes them to the C library.
std::atomic<int> g_flockError{0};

}  // namespace

// Stands in for the C library's flock in this test program, so that a test can make it
// fail as such a file system does.
extern "C" int flock(int fd, int operation) noexcept {
    if (const int error = g_flockError.load()) {
        errno = error;
        return -1;
    }
    using Flock = int (*)(int, int);
    static const auto real = reinterpret_cast<Flock>(::dlsym(RTLD_NEXT, "flock"));
    return real ? real(fd, operation) : 0;
}

namespace param {
namespace {

struct LockCase {
    const char* name;
    int error;
    bool usable;
};

class LockFailureTest : public ::testing::TestWithParam<LockCase> {
protected:
    void TearDown() override { g_flockError = 0; }
    kelvane_test::ScratchDir dir;
};

TEST_P(LockFailureTest, OnlyALockHeldElsewhereRefusesTheFile) {
    const ParamBlock block = MakeStandardBlock();
    kelvane_test::WriteFile(dir / "param.jdp", {block.bytes.begin(), block.bytes.end()});
    CParamStore store;
    store.Init(dir / "param.jdp", dir / "default.jdp");

    g_flockError = GetParam().error;
    EXPECT_EQ(store.LoadParam(), GetParam().usable);
    EXPECT_EQ(store.SaveParam(), GetParam().usable);
}

INSTANTIATE_TEST_SUITE_P(Errors, LockFailureTest,
                         ::testing::Values(LockCase{"InUse", EWOULDBLOCK, false}, LockCase{"NoLocks", ENOLCK, true},
                                           LockCase{"NotSupported", EOPNOTSUPP, true},
                                           LockCase{"ReadOnlyDescriptorOnNfs", EBADF, true}),
                         [](const ::testing::TestParamInfo<LockCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace param
