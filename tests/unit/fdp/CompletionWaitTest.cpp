#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "fdp/CompletionWait.h"

namespace fdp {
namespace {

using namespace std::chrono_literals;

TEST(CCompletionWait, AnswersBeforeTheWaitCountOnlyAfterArming) {
    CCompletionWait wait;
    wait.Arm();
    wait.Complete(5);   // the answer came before the worker began to wait
    EXPECT_EQ(wait.Wait(20), std::optional<std::uint8_t>(5));

    wait.Complete(5);   // a late answer to the command before
    wait.Arm();
    EXPECT_EQ(wait.Wait(20), std::nullopt) << "arming must clear an earlier completion";
}

TEST(CCompletionWait, ShutdownEndsEveryWaitWithAborted) {
    CCompletionWait wait;
    wait.Shutdown();
    wait.Arm();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(wait.Wait(10000), std::optional<std::uint8_t>(CCompletionWait::kAborted));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

}  // namespace
}  // namespace fdp
