/* The floor for a whole run of the tool: a C program that does nothing but
 * is still started, dynamically linked and loaded with one shared library of
 * its own, as the tool is with libQUORVEL.so. main calls into the library so
 * that the linker (which drops unused libraries) keeps it. */
int quorvel_floor_status(void);

int main(void)
{
    return quorvel_floor_status();
}
