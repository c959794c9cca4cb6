// Ctrl-C during a command-line transfer does what the Cancel button does: the worker is asked
// to stop, finishes the item it is on, and the final status still arrives.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "cli/TransferRun.h"

namespace corvane::cli {
namespace {

// Ten items of 20 ms; the second one interrupts the process as Ctrl-C would.
class TInterruptedWorker : public TCopyThread {
public:
    explicit TInterruptedWorker(TRunOnUiThread dispatch) : TCopyThread(std::move(dispatch)) {}
    ~TInterruptedWorker() override { WaitFor(); }
    std::atomic<bool> Cancelled{false};
    int Items = 0;

private:
    void Execute() override {
        for (int i = 0; i < 10 && !Cancelled; ++i) {
            Progress("item " + std::to_string(i), Cancelled);
            if (i == 1)
                std::raise(SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++Items;
        }
        FStatusText = "Done.";
    }
};

TEST(TransferRun, InterruptStopsTheWorkerAfterTheItemItIsOn) {
    TCliSession session;
    TInterruptedWorker worker(session.Queue.Dispatcher());
    struct sigaction before = {};
    sigaction(SIGINT, nullptr, &before);
    ::testing::internal::CaptureStdout();
    TTransferOutcome outcome = RunTransfer(session, worker, 10);
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(outcome.CancelRequested);
    EXPECT_GE(worker.Items, 2);
    EXPECT_LT(worker.Items, 10);
    EXPECT_EQ(worker.StatusKind(), kStatusEnded);
    EXPECT_NE(output.find("Cancelling"), std::string::npos);
    EXPECT_NE(output.find("Done."), std::string::npos);
    // The handler is gone afterwards: the one from before is back.
    struct sigaction now = {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace corvane::cli
