// A tiny loadable library with a version record and one exported function, for the library
// loader and version reader tests.
extern "C" __attribute__((visibility("default"))) int TcProbeAnswer()
{
    return 42;
}
