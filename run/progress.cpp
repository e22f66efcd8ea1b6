// The progress text.
#include "run/progress.h"

#include <cinttypes>
#include <cstdio>

#include "engine/mod_arith.h"

namespace zud {

std::string progress_text(std::int64_t p)
{
    char text[100];
    if (p < 1000000) {
        std::snprintf(text, sizeof text, "Sieved up to %" PRId64, p);
        return text;
    }
    // The figure is computed in the worker's environment (extended
    // precision, rounding down) and cut to one decimal by subtracting 0.05;
    // the worker's rounding would also bend printf's, so the text is
    // formatted under round-to-nearest.
    X87ControlGuard keep_settings;
    set_worker_fpu_env();
    const long double whole = static_cast<long double>(static_cast<double>(p));
    long double x = whole * static_cast<long double>(1e-6);
    const char* unit = "million";
    if (p > 1000000000) {
        x = whole * static_cast<long double>(1e-9);
        unit = "billion";
    }
    if (p > 1000000000000) {
        x = whole * static_cast<long double>(1e-12);
        unit = "trillion";
    }
    x -= static_cast<long double>(0.05);
    const auto figure = static_cast<double>(x);
    set_x87_rounding(X87Rounding::nearest);
    std::snprintf(text, sizeof text, "Sieved up to %" PRId64 " (%.1f %s)", p, figure, unit);
    return text;
}

}  // namespace zud
