// The candidate file the benchmarks run on.
#include "bench/bench_data.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace zud_bench {

namespace {

std::string g_path = "../shared/data/bench/Zud.dat";

}  // namespace

void take_file_argument(int& argc, char** argv)
{
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--zud-file=", 11) == 0)
            g_path = argv[i] + 11;
        else
            argv[out++] = argv[i];
    }
    argc = out;
}

const std::string& candidate_path()
{
    return g_path;
}

const zud::CandidateSet& bench_set()
{
    static zud::CandidateSet set;
    if (!set.empty())
        return set;
    const std::size_t slash = g_path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : g_path.substr(0, slash);
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "Benchmark candidate file not found: %s (give --zud-file=PATH/Zud.dat)\n", g_path.c_str());
        std::exit(2);
    }
    const zud::FileResult r = zud::read_candidate_file(set);
    if (chdir(previous) != 0 || !r.ok) {
        std::fprintf(stderr, "Cannot read the benchmark candidate file %s: %s\n", g_path.c_str(), r.message.c_str());
        std::exit(2);
    }
    return set;
}

}  // namespace zud_bench
