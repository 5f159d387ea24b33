// qbftp's entry point: Ctrl+C and SIGTERM are taken by a thread of their own
// and turned into a clean stop of the running operation.
#include "qbftp.h"

#include <atomic>
#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // Blocked here, so in every thread started later; only the waiter below
    // receives them.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    static std::atomic<bool> interrupted{false}; // outlives the signal thread
    std::thread([stopSignals] {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) == 0) {
            if (interrupted.exchange(true)) {
                // A second signal: leave at once.
                std::_Exit(1);
            }
        }
    }).detach();

    std::vector<std::string> args(argv + 1, argv + argc);
    return qb::cli::RunQbftp(args, std::cout, std::cerr, interrupted);
}
