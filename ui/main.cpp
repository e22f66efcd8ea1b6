// Entry point.
#include <cstdio>

int main()
{
    std::puts("ZudSieve 1.24");
    return 0;
}
