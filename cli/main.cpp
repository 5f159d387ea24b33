// qbftp's entry point: Ctrl+C and SIGTERM are taken by a thread of their own
// and turned into a clean stop of the running operation.
#include "qbftp.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // Blocked here, so in every thread started later; only the waiter below
    // receives them.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    static std::atomic<bool> interrupted{false}; // outlives the signal thread
    // Readable once a stop is asked for: the main thread's wait wakes at
    // once.
    static const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::thread([stopSignals] {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) == 0) {
            if (interrupted.exchange(true)) {
                // A second signal: leave at once.
                std::_Exit(qb::cli::kExitInterrupted);
            }
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(wake, &one, sizeof one);
        }
    }).detach();

    std::vector<std::string> args(argv + 1, argv + argc);
    return qb::cli::RunQbftp(args, std::cout, std::cerr, interrupted, wake);
}
