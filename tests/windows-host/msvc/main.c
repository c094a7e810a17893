/* Opens the board: with none on the machine, the library prints why and
 * leaves the Windows error, which this program prints before it ends with
 * status 1. */
#include <QUORVEL.h>
#include <stdio.h>
#include <windows.h>

int main(void)
{
    if (QUORVEL_INIT() != 0) {
        const DWORD error = GetLastError();
        fflush(stdout);
        printf("Windows error %lu\n", (unsigned long)error);
        return 1;
    }
    QUORVEL_CLOSE();
    puts("a board was opened");
    return 0;
}
