#include "tray/logind_inhibitor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tessarine::tray {
namespace {

// The lock's copy must not reach a started program: a browser left running would otherwise
// hold every shutdown for logind's whole delay.
TEST(LogindInhibitorTest, TheLockCopyIsNotInheritedByChildren) {
    int ends[2];
    ASSERT_EQ(0, ::pipe(ends));
    const int copy = DuplicateForThisProcess(ends[0]);
    ASSERT_GE(copy, 0);
    const std::string probe = "test -e /proc/self/fd/" + std::to_string(copy);
    EXPECT_NE(0, std::system(probe.c_str())) << "the child had descriptor " << copy;
    // The same probe sees a descriptor that is inherited.
    EXPECT_EQ(0, std::system(("test -e /proc/self/fd/" + std::to_string(ends[1])).c_str()));
    for (int fd : {copy, ends[0], ends[1]}) ::close(fd);
}

}  // namespace
}  // namespace tessarine::tray
