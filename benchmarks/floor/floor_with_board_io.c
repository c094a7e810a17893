/* The floor plus the tool's own work on the simulated board, in C: the
 * same files opened, read and written, in the same order, as one run of
 * QUORVELSerialProtocolSelection with the sample Configuration.ini makes
 * (strace lists them), and nothing else. Its distance to the tool is what
 * the tool's C++ costs beyond the work itself; its distance to the floor is
 * what the simulated board's file traffic costs. When the tool or the
 * simulated machine change the files they touch, this should follow.
 * Exits with 1 when the board is not there, so a run cannot pass without
 * doing the work. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int quorvel_floor_status(void);

static const char *machine;

static void machine_file(char *path, size_t size, const char *name)
{
    snprintf(path, size, "%s/%s", machine, name);
}

/* The machine looks for a faults file before each open and request. */
static void look_for_faults(void)
{
    char path[4096];
    machine_file(path, sizeof path, "faults");
    const int fd = open(path, O_RDONLY);
    if (fd >= 0) {
        close(fd);
    }
}

/* And opens its log for each line it appends. */
static void log_event(const char *line)
{
    char path[4096];
    machine_file(path, sizeof path, "requests.log");
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const ssize_t written = write(fd, line, strlen(line));
        (void)written;
        close(fd);
    }
}

int main(void)
{
    machine = getenv("QUORVEL_SIM_DIR");
    if (machine == NULL) {
        return 1;
    }
    char path[4096];
    char buffer[8192];
    struct stat status;

    /* QUORVEL_INIT: the serial-port map, then the lowest port. */
    if (stat(machine, &status) != 0) {
        return 1;
    }
    machine_file(path, sizeof path, "SERIALCOMM");
    stat(path, &status);
    const int map = open(path, O_RDONLY);
    if (map < 0) {
        return 1;
    }
    while (read(map, buffer, sizeof buffer) > 0) {
    }
    close(map);
    stat(machine, &status);
    look_for_faults();
    machine_file(path, sizeof path, "COM3");
    const int port = open(path, O_RDWR | O_CLOEXEC);
    if (port < 0) {
        return 1;
    }
    log_event("COM3 open\n");

    /* Register 0x13, then the four settings, then register 0x10. */
    look_for_faults();
    if (pwrite(port, "\xC0", 1, 0x13) != 1) {
        return 1;
    }
    log_event("COM3 80052038 13c0 0 ok\n");
    for (int setting = 0; setting < 4; ++setting) {
        FILE *configuration = fopen("Configuration.ini", "r");
        if (configuration == NULL) {
            return 1;
        }
        while (fread(buffer, 1, sizeof buffer, configuration) > 0) {
        }
        fclose(configuration);
    }
    look_for_faults();
    if (pwrite(port, "\x0A", 1, 0x10) != 1) {
        return 1;
    }
    log_event("COM3 80052038 100a 0 ok\n");
    log_event("COM3 close\n");
    close(port);

    fputs("\nQUORVEL Protocol Selection Demo\nQUORVEL Protocol Selection Completed", stdout);
    return quorvel_floor_status();
}
