// A candidate file where factors are dense: four k with every n of
// [1, nmax], so that from p = 3 on most primes have several factor lines.
#pragma once

#include <string>
#include <vector>

namespace zud_test {

inline std::string dense_candidates(int nmax, const std::vector<int>& ks = {5, 7, 11, 13})
{
    std::string text = std::to_string(ks.size()) + "\n1\n" + std::to_string(nmax) + "\n";
    for (int k : ks) {
        text += "k=" + std::to_string(k) + "\n1\n";
        for (int n = 2; n <= nmax; ++n)
            text += "+1\n";
    }
    return text;
}

}  // namespace zud_test
