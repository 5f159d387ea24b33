// Throughput of the message thread's queue and latency of a stop.
#include "platform/message_thread.h"
#include "platform/net.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <thread>

namespace {

class Counter : public qb::MessageThread {
public:
    Counter() { Start(); }
    ~Counter() override {
        Post(1);
        Join();
    }
    std::atomic<long> seen{0};

protected:
    void OnMessage(const qb::Message& msg) override {
        if (msg.id == 1) {
            EndThread();
        } else {
            seen.fetch_add(1, std::memory_order_relaxed);
        }
    }
};

void BM_PostAndDeliver(benchmark::State& state) {
    Counter counter;
    long posted = 0;
    for (auto _ : state) {
        counter.Post(2);
        ++posted;
    }
    while (counter.seen.load() < posted) {
        std::this_thread::yield();
    }
    state.SetItemsProcessed(posted);
}
BENCHMARK(BM_PostAndDeliver);

// How long a blocked receive takes to notice a stop (target: well under
// 100 ms).
void BM_StopLatency(benchmark::State& state) {
    for (auto _ : state) {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        qb::net::WakeEvent wake;
        std::atomic<bool> stop{false};
        std::atomic<bool> waiting{false};
        std::thread receiver([&] {
            char c;
            waiting = true;
            qb::net::ReceiveSome(fds[0], &c, 1, {&wake, [&] { return stop.load(); }});
        });
        while (!waiting) {
            std::this_thread::yield();
        }
        auto start = std::chrono::steady_clock::now();
        stop = true;
        wake.Signal();
        receiver.join();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ::close(fds[0]);
        ::close(fds[1]);
    }
}
BENCHMARK(BM_StopLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(50);

} // namespace
