// What the window says of the user's own commands that change no file.
#include "data/status_file.h"
#include "app/main_window.h"
#include "app/range_entry.h"

namespace zud {

void MainWindowLogic::copy_results()
{
    const std::string text = read_status_text(folder_);
    if (text.empty() || !services_.clipboard->available()) {
        log_append("Nothing was copied: there is no 'ZudStatus.dat' with results in " + folder_.shown() + " yet.",
                   LogKind::plain);
        return;
    }
    services_.clipboard->copy(text);
    std::int64_t lines = 0;
    std::int64_t factors = 0;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end;
        ++lines;
        factors += text.find(" | ", begin) < end;
        begin = end + 1;
    }
    log_append("Copied 'ZudStatus.dat' to the clipboard: " + with_commas(lines) + (lines == 1 ? " line, " : " lines, ") +
                   with_commas(factors) + (factors == 1 ? " factor." : " factors."),
               LogKind::plain);
}

}  // namespace zud
