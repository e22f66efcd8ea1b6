// Grouped p values for the window's displays.
#include "app/shown_numbers.h"

#include "run/progress.h"
#include "app/progress_display.h"
#include "app/range_entry.h"

namespace zud {

std::string sieved_up_to_text(std::int64_t resume_p)
{
    const std::int64_t sieved = resume_p > 0 ? resume_p - 1 : 0;
    // The scale in words stays as the run's text has it; only the figure
    // before it gets its commas.
    const std::string plain = progress_text(sieved);
    const std::string lead = "Sieved up to ";
    const std::string::size_type end = plain.find(' ', lead.size());
    const std::string rest = end == std::string::npos ? std::string() : plain.substr(end);
    return lead + with_commas(sieved) + rest;
}

std::int64_t shown_range_start(const DataFolder& folder, std::int64_t pmin)
{
    if (pmin == 0)
        return 0;
    const std::int64_t start = recorded_range_start(folder, pmin);
    return start > pmin || start <= 0 ? pmin : start;
}

}  // namespace zud
