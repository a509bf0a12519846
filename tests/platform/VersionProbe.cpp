// A tiny program that carries a version record, so that tests can read one back from a
// file the build produced.
#include <cstdio>

int main()
{
    std::puts("version probe");
    return 0;
}
