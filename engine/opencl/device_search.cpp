// DeviceEngine: the per-k set-up, the OpenCL objects, and the batch loop
// that keeps the device busy while the processor makes the next batch of
// primes and hands in the hits of the last.
#include "engine/opencl/device_search.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "engine/mod_arith.h"
#include "engine/opencl/kernel_source.h"
#include "engine/prime_feed.h"
#include "engine/search/search_tuning.h"
#include "engine/setup.h"
#include "engine/work_digest.h"

namespace zud {

namespace {

constexpr std::int64_t kPrimeLimit = kWideSearchLimit;
// The kernel packs t + 1 into 13 bits of an entry.
constexpr std::int64_t kMostGiantSteps = 8190;
// The table in local memory: at most 64 KB, at least 4 KB.
constexpr std::uint32_t kMostTableBits = 14;
constexpr std::uint32_t kFewestTableBits = 10;
// Each launch aims at this long: short enough for a stop within a second
// with two batches in flight, long enough that a launch's cost is small.
constexpr double kBatchSeconds = 0.2;
constexpr std::size_t kFewestBatchPrimes = 256;
constexpr std::size_t kMostBatchPrimes = std::size_t{1} << 22;

struct DeviceHit {
    std::uint32_t prime_index;
    std::uint32_t k_index;
    std::uint32_t n;
    std::uint32_t unused;
};

struct Batch {
    std::vector<std::uint64_t> primes;
    cl_mem prime_buffer = nullptr;
    cl_mem count_buffer = nullptr;
    cl_mem hit_buffer = nullptr;
    std::uint32_t hit_capacity = 0;
    bool in_flight = false;
};

}  // namespace

struct DeviceEngine::State {
    ~State() { release(); }
    void release();

    bool fail(const std::string& text)
    {
        if (on_text)
            on_text(text.c_str());
        return false;
    }
    bool check(cl_int code, const char* what)
    {
        if (code == CL_SUCCESS)
            return true;
        return fail(std::string("The OpenCL device failed (") + what + "): " + cl_error_text(code));
    }
    bool make_buffers(Batch& batch, std::size_t primes, std::uint32_t hits);
    bool launch(Batch& batch);
    bool collect(Batch& batch, std::vector<DeviceHit>& hits);
    std::uint64_t next_prime();
    void fill(Batch& batch, std::int64_t hi);
    void deliver(const Batch& batch, std::vector<DeviceHit>& hits, std::int32_t& progress_state,
                 const ProgressCallback& on_progress);

    const ClApi* cl = nullptr;
    cl_context context = nullptr;
    cl_command_queue queue = nullptr;
    cl_program program = nullptr;
    cl_kernel kernel = nullptr;
    cl_mem base_terms = nullptr, first_j = nullptr, steps = nullptr, k_index = nullptr;
    Batch batches[2];
    std::vector<std::uint64_t> sieve_memory;
    PrimeFeed primes;
    std::deque<std::uint64_t> held;   // fetched, not yet searched
    FactorCallback on_factor;
    EngineTextCallback on_text;
    WorkDigest* digest = nullptr;
    std::int64_t pmax = 0;
    std::int32_t nmin = 1;
    std::uint64_t nmin_eff = 2;
    std::uint32_t stride = 0, stride_count = 0, table_bits = 0, k_count = 0;
    std::size_t work_group = 0, groups = 0, batch_primes = 0;
    bool has_work = false;
    bool broken = false;
    bool fail_next = false;
    long launches_before_failure = -1;   // ZUDSIEVE_DEVICE_FAIL_AT: a lost device, for the tests
};

void DeviceEngine::State::release()
{
    if (cl == nullptr)
        return;
    if (queue != nullptr)
        cl->Finish(queue);
    for (Batch& batch : batches)
        for (cl_mem memory : {batch.prime_buffer, batch.count_buffer, batch.hit_buffer})
            if (memory != nullptr)
                cl->ReleaseMemObject(memory);
    for (cl_mem memory : {base_terms, first_j, steps, k_index})
        if (memory != nullptr)
            cl->ReleaseMemObject(memory);
    if (kernel != nullptr)
        cl->ReleaseKernel(kernel);
    if (program != nullptr)
        cl->ReleaseProgram(program);
    if (queue != nullptr)
        cl->ReleaseCommandQueue(queue);
    if (context != nullptr)
        cl->ReleaseContext(context);
}

bool DeviceEngine::State::make_buffers(Batch& batch, std::size_t prime_capacity, std::uint32_t hits)
{
    cl_int code = CL_SUCCESS;
    if (batch.prime_buffer == nullptr) {
        batch.prime_buffer = cl->CreateBuffer(context, CL_MEM_READ_ONLY, prime_capacity * 8, nullptr, &code);
        if (!check(code, "prime buffer"))
            return false;
        batch.count_buffer = cl->CreateBuffer(context, CL_MEM_READ_WRITE, 4, nullptr, &code);
        if (!check(code, "hit counter"))
            return false;
    }
    if (batch.hit_buffer != nullptr)
        cl->ReleaseMemObject(batch.hit_buffer);
    batch.hit_buffer = cl->CreateBuffer(context, CL_MEM_WRITE_ONLY, std::size_t{hits} * sizeof(DeviceHit), nullptr,
                                        &code);
    batch.hit_capacity = hits;
    return check(code, "hit buffer");
}

bool DeviceEngine::State::launch(Batch& batch)
{
    if (launches_before_failure == 0)
        fail_next = true;
    if (launches_before_failure >= 0)
        --launches_before_failure;
    if (fail_next) {
        fail_next = false;
        return check(CL_OUT_OF_RESOURCES, "launch");
    }
    static const cl_uint zero = 0;
    const auto prime_count = static_cast<cl_uint>(batch.primes.size());
    cl_int code = cl->EnqueueWriteBuffer(queue, batch.prime_buffer, CL_FALSE, 0, batch.primes.size() * 8,
                                         batch.primes.data(), 0, nullptr, nullptr);
    if (code == CL_SUCCESS)
        code = cl->EnqueueWriteBuffer(queue, batch.count_buffer, CL_FALSE, 0, 4, &zero, 0, nullptr, nullptr);
    const cl_ulong nmin_eff_arg = nmin_eff;
    cl_uint arg = 0;
    auto set = [&](std::size_t size, const void* value) {
        if (code == CL_SUCCESS)
            code = cl->SetKernelArg(kernel, arg, size, value);
        ++arg;
    };
    set(sizeof(cl_mem), &batch.prime_buffer);
    set(sizeof prime_count, &prime_count);
    set(sizeof(cl_mem), &base_terms);
    set(sizeof(cl_mem), &first_j);
    set(sizeof(cl_mem), &steps);
    set(sizeof(cl_mem), &k_index);
    set(sizeof k_count, &k_count);
    set(sizeof nmin_eff_arg, &nmin_eff_arg);
    set(sizeof stride, &stride);
    set(sizeof stride_count, &stride_count);
    set(sizeof table_bits, &table_bits);
    set(sizeof(cl_mem), &batch.count_buffer);
    set(sizeof(cl_mem), &batch.hit_buffer);
    set(sizeof batch.hit_capacity, &batch.hit_capacity);
    set(std::size_t{4} << table_bits, nullptr);
    const std::size_t wanted = (batch.primes.size() < groups ? batch.primes.size() : groups) * work_group;
    if (code == CL_SUCCESS)
        code = cl->EnqueueNDRangeKernel(queue, kernel, 1, nullptr, &wanted, &work_group, 0, nullptr, nullptr);
    if (code == CL_SUCCESS)
        code = cl->Flush(queue);
    batch.in_flight = code == CL_SUCCESS;
    return check(code, "launch");
}

// Waits for the batch; its hits, relaunching once with room for them all
// when the buffer was too small.
bool DeviceEngine::State::collect(Batch& batch, std::vector<DeviceHit>& hits)
{
    for (;;) {
        batch.in_flight = false;
        cl_uint found = 0;
        cl_int code = cl->EnqueueReadBuffer(queue, batch.count_buffer, CL_TRUE, 0, 4, &found, 0, nullptr, nullptr);
        if (!check(code, "reading the hits"))
            return false;
        if (found > batch.hit_capacity) {
            if (!make_buffers(batch, 0, found + found / 2) || !launch(batch))
                return false;
            continue;
        }
        hits.resize(found);
        if (found != 0) {
            code = cl->EnqueueReadBuffer(queue, batch.hit_buffer, CL_TRUE, 0, found * sizeof(DeviceHit), hits.data(),
                                         0, nullptr, nullptr);
            if (!check(code, "reading the hits"))
                return false;
        }
        return true;
    }
}

std::uint64_t DeviceEngine::State::next_prime()
{
    if (!held.empty()) {
        const std::uint64_t p = held.front();
        held.pop_front();
        return p;
    }
    return primes.next();
}

void DeviceEngine::State::fill(Batch& batch, std::int64_t hi)
{
    batch.primes.clear();
    while (batch.primes.size() < batch_primes) {
        const std::uint64_t p = next_prime();
        if (p == 0)
            return;   // the prime library is out of memory; the caller says so
        if (static_cast<std::int64_t>(p) > hi) {
            held.push_front(p);
            return;
        }
        batch.primes.push_back(p);
    }
}

// Hands the batch's hits over in the order of one processor worker:
// ascending p, each prime's progress call before its hits.
void DeviceEngine::State::deliver(const Batch& batch, std::vector<DeviceHit>& hits, std::int32_t& progress_state,
                                  const ProgressCallback& on_progress)
{
    std::sort(hits.begin(), hits.end(), [](const DeviceHit& a, const DeviceHit& b) {
        return std::tie(a.prime_index, a.k_index, a.n) < std::tie(b.prime_index, b.k_index, b.n);
    });
    std::size_t at = 0;
    for (std::size_t i = 0; i < batch.primes.size(); ++i) {
        const auto p = static_cast<std::int64_t>(batch.primes[i]);
        if (on_progress && static_cast<std::int32_t>(p & 0x10000) != progress_state) {
            progress_state = static_cast<std::int32_t>(p & 0x10000);
            on_progress(p);
        }
        if (digest != nullptr)
            add_to_digest(*digest, batch.primes[i], nmin);
        for (; at < hits.size() && hits[at].prime_index == i; ++at)
            if (on_factor)
                on_factor(static_cast<std::int32_t>(hits[at].k_index), static_cast<std::int32_t>(hits[at].n), p);
    }
}

DeviceEngine::DeviceEngine() = default;
DeviceEngine::~DeviceEngine() = default;

namespace {

std::uint32_t bits_for(std::uint64_t slots)
{
    std::uint32_t bits = kFewestTableBits;
    while ((std::uint64_t{1} << bits) < slots)
        ++bits;
    return bits;
}

}  // namespace

bool DeviceEngine::prepare(const DeviceInfo& device, std::int32_t nmin, std::int32_t nmax, std::int64_t pmin,
                           std::int64_t pmax, const std::int32_t* k_values, const std::int32_t* residues,
                           const std::int32_t* spacings, std::uint32_t count, Callbacks callbacks,
                           Shape shape) noexcept
try {
    set_worker_fpu_env();
    state_ = std::make_unique<State>();
    State& s = *state_;
    s.on_factor = std::move(callbacks.on_factor);
    s.on_text = std::move(callbacks.on_text);
    s.nmin = nmin;
    if (const char* fail_at = std::getenv("ZUDSIEVE_DEVICE_FAIL_AT"); fail_at != nullptr && *fail_at != '\0')
        s.launches_before_failure = std::strtol(fail_at, nullptr, 10);
    // The classes exactly as the processor searches take them.
    const std::int64_t nmin_eff = nmin < 2 ? 2 : nmin;
    struct KEntry {
        std::int32_t spacing;
        std::uint32_t index;
        std::uint32_t first;
        std::uint64_t base;
    };
    std::vector<KEntry> entries;
    std::int64_t lcm = 1;
    double inverse_steps = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        KClass c{};
        if (!reduce_class(k_values[i], residues[i], spacings[i], nmin_eff - nmin, c)) {
            char text[100];
            std::snprintf(text, sizeof text, "Cannot reduce gcd value of %d", c.spacing);
            return s.fail(text);
        }
        if (k_values[i] <= 0)
            continue;   // never a hit
        lcm = std::min<std::int64_t>(lcm / std::gcd(lcm, std::int64_t{c.spacing}) * c.spacing, std::int64_t{1} << 40);
        entries.push_back({c.spacing, i, static_cast<std::uint32_t>(c.search_residue),
                           static_cast<std::uint64_t>(k_values[i]) << c.search_residue});
        inverse_steps += 1.0 / c.spacing;
    }
    if (entries.empty() || nmax < nmin_eff)
        return true;   // nothing to search: has_work() says so
    if (lcm > (std::int64_t{1} << 24))
        return s.fail("The OpenCL search cannot take spacings whose common multiple is " + std::to_string(lcm));
    // The k of one spacing together: each work-item's first power and step are per spacing.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const KEntry& a, const KEntry& b) { return a.spacing < b.spacing; });

    // As many giant steps as baby steps (alpha = 1 / sum 1/d), but no more
    // than the table in local memory holds at half load.
    const std::uint64_t local = device.local_memory < (std::uint64_t{4} << kMostTableBits)
                                    ? device.local_memory
                                    : (std::uint64_t{4} << kMostTableBits);
    std::uint32_t most_bits = kFewestTableBits;
    while (most_bits < kMostTableBits && (std::uint64_t{8} << most_bits) <= local)
        ++most_bits;
    const std::int64_t most_steps = std::min<std::int64_t>(kMostGiantSteps, (std::int64_t{1} << most_bits) / 2);
    SearchGeometry geometry = plan_geometry(nmin_eff, nmax, lcm, 1.0 / inverse_steps);
    const std::int64_t range = static_cast<std::int64_t>(nmax) + 1 - nmin_eff;
    if (geometry.stride_count > most_steps) {
        std::int64_t m = (range + most_steps - 2) / (most_steps - 1);
        m = (m + lcm - 1) / lcm * lcm;
        geometry = {nmin_eff, m, range / m + 1};
    }
    s.nmin_eff = static_cast<std::uint64_t>(nmin_eff);
    s.stride = static_cast<std::uint32_t>(geometry.stride);
    s.stride_count = static_cast<std::uint32_t>(geometry.stride_count);
    s.table_bits = bits_for(static_cast<std::uint64_t>(2 * geometry.stride_count));
    s.k_count = static_cast<std::uint32_t>(entries.size());

    s.cl = cl_api();
    if (s.cl == nullptr)
        return s.fail(kNoDeviceText);
    const ClApi& cl = *s.cl;
    cl_int code = CL_SUCCESS;
    s.context = cl.CreateContext(nullptr, 1, &device.device_id, nullptr, nullptr, &code);
    if (!s.check(code, "context"))
        return false;
    s.queue = cl.CreateCommandQueue(s.context, device.device_id, 0, &code);
    if (!s.check(code, "command queue"))
        return false;
    std::string source = search_kernel_source();
    if (shape.extra_source != nullptr)
        source += shape.extra_source;
    const char* text = source.c_str();
    s.program = cl.CreateProgramWithSource(s.context, 1, &text, nullptr, &code);
    if (!s.check(code, "program"))
        return false;
    if (cl.BuildProgram(s.program, 1, &device.device_id, "-cl-std=CL1.2", nullptr, nullptr) != CL_SUCCESS) {
        std::size_t size = 0;
        cl.GetProgramBuildInfo(s.program, device.device_id, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
        std::string log(size, '\0');
        cl.GetProgramBuildInfo(s.program, device.device_id, CL_PROGRAM_BUILD_LOG, size, &log[0], nullptr);
        while (!log.empty() && (log.back() == '\0' || log.back() == '\n'))
            log.pop_back();
        return s.fail("The OpenCL search did not build on " + device.name + ":\n" + log);
    }
    s.kernel = cl.CreateKernel(s.program, "search_primes", &code);
    if (!s.check(code, "kernel"))
        return false;

    std::vector<cl_ulong> base_terms;
    std::vector<cl_uint> first_j, steps, k_index;
    for (const KEntry& e : entries) {
        base_terms.push_back(e.base);
        first_j.push_back(e.first);
        steps.push_back(static_cast<cl_uint>(e.spacing));
        k_index.push_back(e.index);
    }
    auto constant_buffer = [&](cl_mem& memory, std::size_t bytes, void* data) {
        memory = cl.CreateBuffer(s.context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, bytes, data, &code);
        return s.check(code, "k buffers");
    };
    if (!constant_buffer(s.base_terms, base_terms.size() * 8, base_terms.data()) ||
        !constant_buffer(s.first_j, first_j.size() * 4, first_j.data()) ||
        !constant_buffer(s.steps, steps.size() * 4, steps.data()) ||
        !constant_buffer(s.k_index, k_index.size() * 4, k_index.data()))
        return false;

    // Processor devices run a work-group as one thread: a few items keep its
    // stack small; a GPU wants whole wavefronts.
    std::size_t kernel_most = 0;
    cl.GetKernelWorkGroupInfo(s.kernel, device.device_id, CL_KERNEL_WORK_GROUP_SIZE, sizeof kernel_most, &kernel_most,
                              nullptr);
    s.work_group = shape.work_group != 0 ? shape.work_group : device.is_cpu ? 8 : 64;
    if (kernel_most != 0 && s.work_group > kernel_most)
        s.work_group = kernel_most;
    const std::size_t units = device.compute_units == 0 ? 1 : device.compute_units;
    s.groups = units * (device.is_cpu ? 4 : 32);
    s.batch_primes = shape.batch_primes != 0 ? shape.batch_primes : s.groups * 64;
    for (Batch& batch : s.batches)
        if (!s.make_buffers(batch, kMostBatchPrimes, 1024))
            return false;

    s.pmax = pmax > kPrimeLimit ? kPrimeLimit : pmax;
    const auto first = static_cast<std::uint64_t>(pmin < 3 ? 3 : pmin);
    const auto limit = static_cast<std::uint64_t>(s.pmax) > first ? static_cast<std::uint64_t>(s.pmax) : first;
    s.sieve_memory.assign(PrimeFeed::bytes_for(first, limit) / 8 + 1, 0);
    s.primes.init(s.sieve_memory.data(), first, limit);
    s.has_work = true;
    return true;
} catch (...) {
    if (state_ != nullptr)
        state_->fail("Cannot allocate memory for the OpenCL search");
    return false;
}

bool DeviceEngine::has_work() const
{
    return state_ != nullptr && state_->has_work;
}

void DeviceEngine::set_factor_callback(FactorCallback on_factor)
{
    if (state_ != nullptr)
        state_->on_factor = std::move(on_factor);
}

void DeviceEngine::set_digest(WorkDigest* digest)
{
    if (state_ != nullptr)
        state_->digest = digest;
}

void DeviceEngine::fail_next_launch()
{
    if (state_ != nullptr)
        state_->fail_next = true;
}

std::int64_t DeviceEngine::sieve_range(std::int64_t lo, std::int64_t hi, const std::atomic<std::int32_t>* interrupt,
                                       const ProgressCallback& on_progress) noexcept
try {
    using Clock = std::chrono::steady_clock;
    State& s = *state_;
    set_worker_fpu_env();
    if (hi > s.pmax)
        hi = s.pmax;
    const std::int64_t first = lo < 3 ? 3 : lo;
    if (first > hi && first > kPrimeLimit)
        return first;
    while (!s.held.empty() && static_cast<std::int64_t>(s.held.front()) < first)
        s.held.pop_front();
    if (s.held.empty())
        s.primes.skip_to(static_cast<std::uint64_t>(first));
    // Where a resume must start: the first prime not searched.
    auto unsearched = [&s, first]() -> std::int64_t {
        return s.held.empty() ? first : static_cast<std::int64_t>(s.held.front());
    };
    if (s.broken) {
        s.fail("The OpenCL device failed earlier in this run");
        return unsearched();
    }
    auto stopped = [interrupt] { return interrupt != nullptr && interrupt->load(std::memory_order_relaxed) != 0; };
    auto put_back = [&s](Batch& batch) {
        s.held.insert(s.held.begin(), batch.primes.begin(), batch.primes.end());
        batch.primes.clear();
    };
    auto progress_state = static_cast<std::int32_t>(lo & 0x10000);
    std::vector<DeviceHit> hits;
    Batch* current = &s.batches[0];
    Batch* next = &s.batches[1];
    if (stopped()) {
        const std::uint64_t p = s.next_prime();
        s.held.push_front(p);
        return static_cast<std::int64_t>(p);
    }
    s.fill(*current, hi);
    std::int64_t last = first;
    if (!current->primes.empty() && !s.launch(*current)) {
        s.broken = true;
        put_back(*current);
        return unsearched();
    }
    Clock::time_point began = Clock::now();
    while (!current->primes.empty()) {
        s.fill(*next, hi);   // while the device searches the current batch
        const bool ok = s.collect(*current, hits);
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        const bool stop = stopped();
        if (!ok || (!stop && !next->primes.empty() && !s.launch(*next))) {
            // Nothing of a failed batch counts: both go back, unsearched.
            s.broken = true;
            put_back(*next);
            put_back(*current);
            return unsearched();
        }
        began = Clock::now();
        // Aim the next batches at kBatchSeconds each.
        if (seconds > 0.01 && current->primes.size() == s.batch_primes) {
            const double scaled = static_cast<double>(s.batch_primes) * kBatchSeconds / seconds;
            s.batch_primes = static_cast<std::size_t>(
                std::clamp(scaled, static_cast<double>(kFewestBatchPrimes), static_cast<double>(kMostBatchPrimes)));
        }
        s.deliver(*current, hits, progress_state, on_progress);
        last = static_cast<std::int64_t>(current->primes.back());
        current->primes.clear();
        if (stop) {
            put_back(*next);
            return s.held.empty() ? last + 1 : static_cast<std::int64_t>(s.held.front());
        }
        std::swap(current, next);
    }
    if (!s.held.empty())
        return static_cast<std::int64_t>(s.held.front());   // the first prime above hi
    // The feed ran dry without a prime above hi: out of memory.
    char text[100];
    std::snprintf(text, sizeof text, "Cannot allocate memory for the primes from %" PRId64, last + 1);
    s.fail(text);
    return last == first ? first : last + 1;
} catch (...) {
    state_->fail("Cannot allocate memory for the OpenCL search");
    state_->broken = true;
    return state_->held.empty() ? lo : static_cast<std::int64_t>(state_->held.front());
}

}  // namespace zud
