// The settings lookup on about 10 MB, as the Windows programs run it:
// built for Windows by scripts/bench (once with x86 frame pointers, once
// without) and run under Wine, where the two builds are compared. Prints
// the median of 15 lookups in milliseconds, or exits 1 if a lookup does
// not find the setting on the file's last line.
//   lookup_under_wine FILE   (written first when it does not exist)
#include "config_lookup.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        return 2;
    }
    const char *path = argv[1];
    if (quorvel::File existing{std::fopen(path, "rb")}; !existing) {
        quorvel::File out{std::fopen(path, "wb")};
        for (int line = 0; line < 200000; ++line) {
            std::fprintf(out.get(), "; comment line %d with some text\nKEY_%d=%d\n\n", line, line, line % 7);
        }
        std::fprintf(out.get(), "SLEW_RATE_FOR_PORTS_3_AND_4=1\n");
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::array<double, 15> milliseconds{};
    for (double &time : milliseconds) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        auto value = quorvel::find_config_value("SLEW_RATE_FOR_PORTS_3_AND_4", quorvel::File(std::fopen(path, "r")));
        QueryPerformanceCounter(&end);
        if (!value || *value != "1") {
            return 1;
        }
        time = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("%.2f\n", milliseconds[milliseconds.size() / 2]);
    return 0;
}
