/* Counts the user-space instructions a running process executes, by single
 * stepping it with ptrace: a repeatable measure of CPU work where timings are
 * too noisy and valgrind cannot run the program (valgrind 3.19 does not know
 * pidfd_open).
 *
 *   stepcount PID N OUT
 *
 * attaches to PID (one thread), waits for its next clone, clone3, fork or
 * vfork system call (a relaunch: posix_spawn makes one), then counts every
 * instruction until N more such calls have returned, and detaches. It writes
 *
 *   OUT.hist   "address count" for every instruction address executed
 *   OUT.sys    one line per system call in the window, in order:
 *              "number instructions-since-the-previous-call"
 *   OUT.maps   the process's /proc/PID/maps, to name the addresses
 *
 * and prints the total. Children are not followed: the instructions of a
 * vfork child before its exec are the C library's, the same for every build.
 * The stepped process runs about a thousand times slower meanwhile.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#define TABLE_BITS 20
#define TABLE_SIZE (1u << TABLE_BITS)

struct slot {
    uint64_t address;
    uint64_t count;
    int kind; /* 0 unknown, 1 syscall instruction, 2 other */
};

static struct slot* table;

static struct slot* Find(uint64_t address) {
    uint64_t index = (address * 0x9E3779B97F4A7C15ull) >> (64 - TABLE_BITS);
    for (;;) {
        struct slot* slot = &table[index];
        if (slot->address == address || slot->address == 0) {
            slot->address = address;
            return slot;
        }
        index = (index + 1) & (TABLE_SIZE - 1);
    }
}

static int IsSyscall(pid_t pid, struct slot* slot) {
    if (slot->kind == 0) {
        errno = 0;
        long word = ptrace(PTRACE_PEEKTEXT, pid, (void*)slot->address, NULL);
        slot->kind = (errno == 0 && (word & 0xFFFF) == 0x050F) ? 1 : 2;
    }
    return slot->kind == 1;
}

static int IsClone(unsigned long long number) {
    return number == 56 || number == 57 || number == 58 || number == 435;
}

static void CopyMaps(pid_t pid, const char* out) {
    char path[64];
    char target[4096];
    snprintf(path, sizeof path, "/proc/%d/maps", (int)pid);
    snprintf(target, sizeof target, "%s.maps", out);
    FILE* from = fopen(path, "r");
    FILE* to = fopen(target, "w");
    if (from == NULL || to == NULL) {
        perror("maps");
        exit(1);
    }
    char buffer[4096];
    size_t length;
    while ((length = fread(buffer, 1, sizeof buffer, from)) > 0)
        fwrite(buffer, 1, length, to);
    fclose(from);
    fclose(to);
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: stepcount PID N OUT\n");
        return 2;
    }
    const pid_t pid = (pid_t)atoi(argv[1]);
    const long windows = atol(argv[2]);
    const char* out = argv[3];
    table = calloc(TABLE_SIZE, sizeof *table);
    char path[4096];
    snprintf(path, sizeof path, "%s.sys", out);
    FILE* calls = fopen(path, "w");
    if (table == NULL || calls == NULL) {
        perror("stepcount");
        return 1;
    }
    if (ptrace(PTRACE_SEIZE, pid, NULL, NULL) != 0 || ptrace(PTRACE_INTERRUPT, pid, NULL, NULL) != 0) {
        perror("attach");
        return 1;
    }
    int status;
    if (waitpid(pid, &status, __WALL) != pid) {
        perror("waitpid");
        return 1;
    }
    CopyMaps(pid, out);

    long clones = -1; /* the window opens with the first clone's return */
    uint64_t total = 0;
    uint64_t sinceCall = 0;
    int pendingClone = 0;
    int signal = 0;
    for (;;) {
        struct user_regs_struct regs;
        if (ptrace(PTRACE_GETREGS, pid, NULL, &regs) != 0) {
            perror("getregs");
            return 1;
        }
        if (pendingClone) {
            /* The clone has returned: the step after it. */
            pendingClone = 0;
            if (++clones == windows)
                break;
            if (clones == 0)
                sinceCall = 0;
        }
        struct slot* slot = Find(regs.rip);
        if (clones >= 0) {
            ++slot->count;
            ++total;
            ++sinceCall;
        }
        if (IsSyscall(pid, slot)) {
            if (clones >= 0)
                fprintf(calls, "%llu %llu\n", regs.rax, (unsigned long long)sinceCall);
            sinceCall = 0;
            pendingClone = IsClone(regs.rax);
        }
        if (ptrace(PTRACE_SINGLESTEP, pid, NULL, (void*)(long)signal) != 0) {
            perror("singlestep");
            return 1;
        }
        signal = 0;
        if (waitpid(pid, &status, __WALL) != pid) {
            perror("waitpid");
            return 1;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            fprintf(stderr, "the process ended\n");
            return 1;
        }
        /* A signal for it (not an event stop) is delivered with the next step. */
        if (WIFSTOPPED(status) && WSTOPSIG(status) != SIGTRAP && (status >> 16) == 0)
            signal = WSTOPSIG(status);
    }
    ptrace(PTRACE_DETACH, pid, NULL, NULL);
    fclose(calls);

    snprintf(path, sizeof path, "%s.hist", out);
    FILE* hist = fopen(path, "w");
    if (hist == NULL) {
        perror(path);
        return 1;
    }
    for (uint32_t i = 0; i < TABLE_SIZE; ++i)
        if (table[i].count != 0)
            fprintf(hist, "%llx %llu\n", (unsigned long long)table[i].address,
                    (unsigned long long)table[i].count);
    fclose(hist);
    printf("%llu instructions in %ld windows\n", (unsigned long long)total, windows);
    return 0;
}
