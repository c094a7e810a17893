/* Opens the board, reads the protocol register and closes it again. */
#include <QUORVEL.h>
#include <stdio.h>

int main(void)
{
    unsigned char value = 0;
    if (QUORVEL_INIT() != 0) {
        return 3;
    }
    if (QUORVEL_READ(0x10, &value) != 0) {
        return 4;
    }
    printf("0x%02X\n", value);
    return QUORVEL_CLOSE() != 0 ? 0 : 5;
}
