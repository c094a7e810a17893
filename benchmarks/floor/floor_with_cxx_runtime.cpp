// The floor plus the shared C++ runtime: the same empty program, made to
// need libstdc++.so (and through it libm and libgcc_s) by one call that only
// the runtime library defines. The difference from the floor is what merely
// loading the C++ runtime costs a process.
#include <exception>

extern "C" int quorvel_floor_status(void);

int main()
{
    return quorvel_floor_status() + std::uncaught_exceptions();
}
