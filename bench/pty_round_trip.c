/* pty_round_trip: how fast stop-and-wait can go over a pseudo-terminal with no protocol at all.
 * One process writes a block of 136 bytes (a data block of a program file), the other reads it
 * whole and answers one byte; again and again. The loader's unpaced rates are set against this.
 *
 * Usage: pty_round_trip [ROUNDS]
 * Each way runs three times (other work on the machine only slows a run down) and the best run
 * counts. Prints two lines, round trips per second:
 *   send RATE      the blocks go from the terminal's slave side to its master (the loader sends)
 *   receive RATE   the blocks go from the master to the slave (the loader receives)
 */
#define _DEFAULT_SOURCE
#define _XOPEN_SOURCE 700
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

enum { kBlock = 136, kWarmUp = 200, kDefaultRounds = 10000, kRuns = 3 };

static void Die(const char* what) {
    fprintf(stderr, "pty_round_trip: %s: %s\n", what, strerror(errno));
    exit(1);
}

static void ReadAll(int fd, char* buffer, size_t length) {
    while (length > 0) {
        const ssize_t got = read(fd, buffer, length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            Die("read");
        }
        buffer += got;
        length -= (size_t)got;
    }
}

static void WriteAll(int fd, const char* buffer, size_t length) {
    while (length > 0) {
        const ssize_t put = write(fd, buffer, length);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            Die("write");
        }
        buffer += put;
        length -= (size_t)put;
    }
}

/* One side of the exchange: the block's writer sends and waits for the answer; the other side
 * reads the block whole and answers. */
static void Exchange(int fd, int writesBlocks, long rounds) {
    char block[kBlock];
    char answer = 0x06;
    memset(block, 'R', sizeof block);
    for (long i = 0; i < rounds; ++i) {
        if (writesBlocks) {
            WriteAll(fd, block, sizeof block);
            ReadAll(fd, &answer, 1);
        } else {
            ReadAll(fd, block, sizeof block);
            WriteAll(fd, &answer, 1);
        }
    }
}

static double Seconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* Round trips per second with the blocks going from the slave to the master, or the other way. */
static double Measure(long rounds, int slaveWrites) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        Die("posix_openpt");
    }
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    struct termios raw;
    if (slave < 0 || tcgetattr(slave, &raw) != 0) {
        Die("open the slave side");
    }
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(slave, TCSANOW, &raw) != 0) {
        Die("tcsetattr");
    }
    const pid_t child = fork();
    if (child < 0) {
        Die("fork");
    }
    if (child == 0) {
        close(master);
        Exchange(slave, slaveWrites, kWarmUp + rounds);
        _exit(0);
    }
    close(slave);
    Exchange(master, !slaveWrites, kWarmUp);
    const double start = Seconds();
    Exchange(master, !slaveWrites, rounds);
    const double elapsed = Seconds() - start;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "pty_round_trip: the other side failed\n");
        exit(1);
    }
    close(master);
    return (double)rounds / elapsed;
}

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? atol(argv[1]) : kDefaultRounds;
    if (rounds <= 0) {
        fprintf(stderr, "usage: pty_round_trip [ROUNDS]\n");
        return 2;
    }
    for (int slaveWrites = 1; slaveWrites >= 0; --slaveWrites) {
        double best = 0;
        for (int run = 0; run < kRuns; ++run) {
            const double rate = Measure(rounds, slaveWrites);
            best = rate > best ? rate : best;
        }
        printf("%s %.1f\n", slaveWrites ? "send" : "receive", best);
    }
    return 0;
}
