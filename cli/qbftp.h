// qbftp: Quillbeck's command-line front end over the same core as the window.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

namespace qb::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130; // stopped by Ctrl+C (128 + SIGINT)

// Runs one qbftp command line. `interrupted` is set (by a signal) to stop the
// running operation.
// `interruptFd` (may be -1) becomes readable when `interrupted` is set: the
// waiting thread then wakes at once instead of at its next look.
int RunQbftp(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& interrupted, int interruptFd = -1);

// Text helpers, exposed for tests.
std::string JsonString(const std::string& bytes);
std::string IsoLocalTime(long long time);

} // namespace qb::cli
