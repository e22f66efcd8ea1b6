// Reading the record back: each line is "YYYY-MM-DD HH:MM:SS " and the text
// the window wrote; the figures in it carry commas.
#include "app/sieve_history.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "data/status_file.h"
#include "app/sieve_log.h"

namespace zud {

namespace {

std::time_t parse_stamp(const std::string& line)
{
    std::tm local{};
    if (std::sscanf(line.c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday, &local.tm_hour,
                    &local.tm_min, &local.tm_sec) != 6)
        return 0;
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// The grouped figure after `marker` in `text`; -1 when there is none.
std::int64_t figure_after(const std::string& text, const char* marker)
{
    const std::string::size_type at = text.find(marker);
    if (at == std::string::npos)
        return -1;
    std::int64_t value = 0;
    bool any = false;
    for (std::string::size_type i = at + std::strlen(marker); i < text.size(); ++i) {
        const char c = text[i];
        if (c == ',')
            continue;
        if (c < '0' || c > '9')
            break;
        if (value > (INT64_MAX - 9) / 10)
            return -1;
        value = value * 10 + (c - '0');
        any = true;
    }
    return any ? value : -1;
}

bool parse_factor(const char* text, FoundFactor& factor)
{
    std::int64_t p = 0;
    int k = 0;
    int n = 0;
    if (std::sscanf(text, "%" SCNd64 " | %d*2^%d+1", &p, &k, &n) != 3)
        return false;
    factor = {p, k, n, 0};
    return true;
}

void read_record(const std::string& path, SieveHistory& history)
{
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 21)
            continue;
        const std::time_t when = parse_stamp(line);
        const std::string text = line.substr(20);
        FoundFactor factor{};
        if (text.rfind("Factor: ", 0) == 0) {
            if (parse_factor(text.c_str() + 8, factor)) {
                factor.when = when;
                history.factors.push_back(factor);
            }
        } else if (text.rfind("Start: range ", 0) == 0) {
            history.reached.push_back({when, figure_after(text, "p="), true});
        } else if (text.rfind("Resumed at ", 0) == 0) {
            history.reached.push_back({when, figure_after(text, "p="), true});
        } else if (text.rfind("Complete: ", 0) == 0) {
            history.reached.push_back({when, figure_after(text, " to p="), false});
        } else if (text.find("sieved up to p=") != std::string::npos) {
            history.reached.push_back({when, figure_after(text, "sieved up to p="), false});
        }
    }
    while (!history.reached.empty() && history.reached.back().p < 0)
        history.reached.pop_back();
}

}  // namespace

SieveHistory read_sieve_history(const DataFolder& folder)
{
    SieveHistory history;
    const std::string path = sieve_log_path(folder);
    read_record(path + ".1", history);
    read_record(path, history);
    std::vector<ReachedPoint> kept;
    for (const ReachedPoint& point : history.reached)
        if (point.p >= 0 && point.when != 0)
            kept.push_back(point);
    history.reached = kept;
    return history;
}

std::vector<FoundFactor> range_factors(const DataFolder& folder, const SieveHistory& history)
{
    std::map<std::tuple<std::int64_t, std::int32_t, std::int32_t>, std::time_t> found;
    for (const FoundFactor& f : history.factors)
        found.emplace(std::make_tuple(f.p, f.k, f.n), f.when);
    std::vector<FoundFactor> factors;
    std::istringstream text(read_status_text(folder));
    for (std::string line; std::getline(text, line);) {
        FoundFactor factor{};
        if (line.find(" | ") == std::string::npos || !parse_factor(line.c_str(), factor))
            continue;
        const auto when = found.find(std::make_tuple(factor.p, factor.k, factor.n));
        factor.when = when == found.end() ? 0 : when->second;
        factors.push_back(factor);
    }
    return factors;
}

std::string factor_text(const FoundFactor& factor)
{
    char text[96];
    std::snprintf(text, sizeof text, "%" PRId64 " | %d*2^%d+1", factor.p, static_cast<int>(factor.k),
                  static_cast<int>(factor.n));
    return text;
}

}  // namespace zud
