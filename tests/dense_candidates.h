// A candidate file where factors are dense: four k with every n of
// [1, nmax], so that from p = 3 on most primes have several factor lines.
#pragma once

#include <string>

namespace zud_test {

inline std::string dense_candidates(int nmax)
{
    std::string text = "4\n1\n" + std::to_string(nmax) + "\n";
    for (int k : {5, 7, 11, 13}) {
        text += "k=" + std::to_string(k) + "\n1\n";
        for (int n = 2; n <= nmax; ++n)
            text += "+1\n";
    }
    return text;
}

}  // namespace zud_test
