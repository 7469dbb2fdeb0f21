/* pty_round_trip: how fast stop-and-wait can go over a pseudo-terminal with no protocol at all.
 * One process writes a block of 136 bytes (a data block of a program file), the other reads it
 * whole and answers one byte; again and again. The loader's unpaced rates are set against this.
 *
 * Paced, the same exchange with the handheld's side keeping to a line's time as bht-sim --baud
 * does: from the moment it has read what the other side wrote, the block and the answer (137
 * characters of 10 bits) take their time on the line, the block in a UART's 16-byte bursts. What
 * this adds beyond the line's time is this machine's: its timers and two trips through the
 * pseudo-terminal a block, with no protocol at all. The loader's paced ratios are set against it.
 *
 * Usage: pty_round_trip [ROUNDS [BAUD]]
 * Each way runs three times (other work on the machine only slows a run down) and the best run
 * counts. Prints two lines:
 *   send RATE      the blocks go from the terminal's slave side to its master (the loader sends)
 *   receive RATE   the blocks go from the master to the slave (the loader receives)
 * RATE is round trips per second; with BAUD, the time taken against the line's time instead.
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
#if defined(__linux__)
#include <sys/prctl.h>
#endif

enum { kBlock = 136, kBurst = 16, kWarmUp = 200, kDefaultRounds = 10000, kRuns = 3 };

/* With a rate, the line's time for a block and its answer; 0 unpaced. */
static double pacedSeconds = 0;

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

static double Seconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
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

static void SleepUntil(double due) {
    struct timespec at;
    at.tv_sec = (time_t)due;
    at.tv_nsec = (long)((due - (double)at.tv_sec) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, NULL) == EINTR) {
    }
}

/* The handheld's side of a paced exchange, timed from the moment its read returns: the block
 * crosses the line in bursts of up to 16 bytes, as a UART's FIFO hands them over (the first burst
 * the short one), each when its last byte is through; the answer takes one character. It wakes
 * at every burst, and writes the burst when the blocks are its own. */
static void PacedHandheld(int fd, int writesBlocks, long rounds) {
    char block[kBlock];
    char answer = 0x06;
    memset(block, 'R', sizeof block);
    const double character = pacedSeconds / (kBlock + 1);
    double readAt = Seconds();
    for (long i = 0; i < rounds; ++i) {
        if (!writesBlocks) {
            ReadAll(fd, block, sizeof block);
            readAt = Seconds();
        }
        /* Sending, the block follows the answer's character. */
        const double start = writesBlocks ? readAt + character : readAt;
        for (int from = 0, end = kBlock % kBurst; from < kBlock; from = end, end += kBurst) {
            SleepUntil(start + end * character);
            if (writesBlocks) {
                WriteAll(fd, block + from, (size_t)(end - from));
            }
        }
        if (writesBlocks) {
            ReadAll(fd, &answer, 1);
            readAt = Seconds();
        } else {
            SleepUntil(start + (kBlock + 1) * character);
            WriteAll(fd, &answer, 1);
        }
    }
}

/* The master's side plays the handheld, as bht-sim does. */
static void Handheld(int fd, int writesBlocks, long rounds) {
    if (pacedSeconds > 0) {
        PacedHandheld(fd, writesBlocks, rounds);
    } else {
        Exchange(fd, writesBlocks, rounds);
    }
}

/* Round trips per second with the blocks going from the slave to the master, or the other way. */
static double Measure(long rounds, int slaveWrites) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        Die("posix_openpt");
    }
    /* Paced, a few rounds settle it: two hundred would take seconds. */
    const long warmUp = pacedSeconds > 0 ? 10 : kWarmUp;
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
        Exchange(slave, slaveWrites, warmUp + rounds);
        _exit(0);
    }
    close(slave);
    Handheld(master, !slaveWrites, warmUp);
    const double start = Seconds();
    Handheld(master, !slaveWrites, rounds);
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
    const long baud = argc > 2 ? atol(argv[2]) : 0;
    if (rounds <= 0 || baud < 0) {
        fprintf(stderr, "usage: pty_round_trip [ROUNDS [BAUD]]\n");
        return 2;
    }
    if (baud > 0) {
        pacedSeconds = (kBlock + 1) * 10.0 / (double)baud;
#if defined(__linux__)
        /* As bht-sim: a sleep may otherwise run up to 50 us long. */
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    }
    for (int slaveWrites = 1; slaveWrites >= 0; --slaveWrites) {
        double best = 0;
        for (int run = 0; run < kRuns; ++run) {
            const double rate = Measure(rounds, slaveWrites);
            best = rate > best ? rate : best;
        }
        if (baud > 0) {
            printf("%s %.4f\n", slaveWrites ? "send" : "receive", 1.0 / (best * pacedSeconds));
        } else {
            printf("%s %.1f\n", slaveWrites ? "send" : "receive", best);
        }
    }
    return 0;
}
