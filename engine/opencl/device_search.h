// The search on an OpenCL device: the processor makes the primes in
// batches (the same prime feed as the processor searches), the device
// searches each batch for every candidate (k, n), and the hits come back
// to the caller's factor callback in ascending p, within one p by k index
// and n. It has the shape of SieveEngine, so that a run drives either.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/opencl/devices.h"
#include "engine/sieve.h"

namespace zud {

struct WorkDigest;

// Sizes the caller may set; 0 takes the device's own.
struct DeviceShape {
    std::size_t work_group = 0;     // work-items per prime
    std::size_t batch_primes = 0;   // primes per launch at the start (it then adapts)
    const char* extra_source = nullptr;   // appended to the kernel's source (the tests' broken build)
};

class DeviceEngine {
public:
    struct Callbacks {
        FactorCallback on_factor;
        EngineTextCallback on_text;   // why the device gave up (a build log, an OpenCL error)
    };
    using Shape = DeviceShape;

    DeviceEngine();
    ~DeviceEngine();
    DeviceEngine(const DeviceEngine&) = delete;
    DeviceEngine& operator=(const DeviceEngine&) = delete;

    // The per-k set-up as the processor searches take it (the caller's
    // arrays stay as they are), the kernel built for `device`, the
    // buffers. False after sending a text when it gives up.
    bool prepare(const DeviceInfo& device, std::int32_t nmin, std::int32_t nmax, std::int64_t pmin,
                 std::int64_t pmax, const std::int32_t* k_values, const std::int32_t* residues,
                 const std::int32_t* spacings, std::uint32_t count, Callbacks callbacks, Shape shape = {}) noexcept;
    bool has_work() const;
    void set_factor_callback(FactorCallback on_factor);
    void set_digest(WorkDigest* digest);

    // As SieveEngine::sieve_range: the primes of [lo, hi], lo ascending
    // from call to call; the first prime above hi, or the first prime not
    // searched when `interrupt` was seen (checked between batches) or the
    // device failed (after a text; nothing of that batch is reported).
    std::int64_t sieve_range(std::int64_t lo, std::int64_t hi, const std::atomic<std::int32_t>* interrupt,
                             const ProgressCallback& on_progress) noexcept;

    // For the tests: the next launch fails as a lost device would (so does
    // launch N + 1 of an engine prepared with ZUDSIEVE_DEVICE_FAIL_AT=N set).
    void fail_next_launch();

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace zud
