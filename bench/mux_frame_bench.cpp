// Multiplexer frame code throughput: building a request frame with the
// loader's 130-byte half block, and taking the same frame in byte by byte
// through the answer receiver with its checksum check.
//
//   build/native/bin/mux_frame_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "link/mux_frame.h"

namespace {

using namespace vorin::link::mux;

Request HalfBlock(std::vector<uint8_t>& body) {
    static const uint8_t kPrefix[2] = {0x1B, 0x01};
    body.resize(130);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 37);
    Request r;
    r.control = 0x30;
    r.ackLength = 1;
    r.statusLength = 1;
    r.prefix = kPrefix;
    r.prefixLength = 2;
    r.body = body.data();
    r.bodyLength = body.size();
    return r;
}

void BM_BuildRequestFrame(benchmark::State& state) {
    std::vector<uint8_t> body;
    const Request r = HalfBlock(body);
    uint8_t frame[kFrameBufferSize];
    std::size_t size = 0;
    for (auto _ : state) {
        size = BuildRequest(r, frame);
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["wire_bytes"] = static_cast<double>(size);
}

void BM_ReceiveFrame(benchmark::State& state) {
    std::vector<uint8_t> body;
    const Request r = HalfBlock(body);
    uint8_t frame[kFrameBufferSize];
    const std::size_t size = BuildRequest(r, frame);
    AnswerReceiver receiver;
    for (auto _ : state) {
        receiver.Reset();
        for (std::size_t i = 0; i < size; ++i) receiver.Add(frame[i]);
        benchmark::DoNotOptimize(receiver.ChecksumOk());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

BENCHMARK(BM_BuildRequestFrame);
BENCHMARK(BM_ReceiveFrame);

}  // namespace

BENCHMARK_MAIN();
