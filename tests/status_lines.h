// The factor lines of a status file's text (lines that begin with a digit).
#pragma once

#include <string>
#include <vector>

namespace zud_test {

inline std::vector<std::string> factor_lines(const std::string& status)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = status.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = status.substr(start, end - start);
        if (!line.empty() && line[0] >= '0' && line[0] <= '9')
            lines.push_back(line);
    }
    return lines;
}

}  // namespace zud_test
