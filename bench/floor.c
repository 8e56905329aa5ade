/* The floor the benchmark holds the manager against: the least a supervisor
 * on Linux can do for the same work, with posix_spawn, waitpid and killpg.
 *
 *   floor supervise FILE   start every application listed in FILE (one per
 *                          line: the executable, then its arguments, split at
 *                          blanks), each in a session of its own, and start
 *                          each again whenever it ends; runs until killed
 *   floor startup FILE     read the executable link of every process in /proc
 *                          once (the least a supervisor that attaches to
 *                          running copies must do), then as "supervise"
 *   floor restart N FILE   start the first application of FILE, wait for its
 *                          end and start it again, N times, then end
 *   floor tree FILE        start the first application of FILE; when a line
 *                          arrives on standard input, end its whole process
 *                          group at once with killpg, reap it and end
 *   floor crowd N          start N children that wait for ever; print
 *                          "ready"; end them all when standard input closes
 *   floor watch PID...     print "ready" once it watches the processes, then
 *                          the CLOCK_MONOTONIC time in ms at which the last
 *                          of them ended (zombies have ended)
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

#define MAX_APPS 16
#define MAX_ARGS 32

struct app {
    char* argv[MAX_ARGS + 1];
    pid_t pid;
};

static struct app apps[MAX_APPS];
static int appCount;

static void ReadApps(const char* path) {
    static char lines[MAX_APPS][4096];
    FILE* file = fopen(path, "r");
    if (file == NULL) {
        perror(path);
        exit(2);
    }
    while (appCount < MAX_APPS && fgets(lines[appCount], sizeof lines[0], file) != NULL) {
        struct app* app = &apps[appCount];
        int n = 0;
        for (char* word = strtok(lines[appCount], " \t\n"); word && n < MAX_ARGS;
             word = strtok(NULL, " \t\n"))
            app->argv[n++] = word;
        app->argv[n] = NULL;
        if (n > 0)
            ++appCount;
    }
    fclose(file);
}

static pid_t Start(struct app* app) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    if (posix_spawn(&pid, app->argv[0], NULL, &attributes, app->argv, environ) != 0)
        pid = 0;
    posix_spawnattr_destroy(&attributes);
    app->pid = pid;
    return pid;
}

static pid_t Reap(pid_t pid) {
    pid_t ended;
    while ((ended = waitpid(pid, NULL, 0)) < 0 && errno == EINTR) {
    }
    return ended;
}

static int Supervise(void) {
    for (int i = 0; i < appCount; ++i)
        Start(&apps[i]);
    for (;;) {
        pid_t ended = Reap(-1);
        if (ended < 0)
            return 1;
        for (int i = 0; i < appCount; ++i)
            if (apps[i].pid == ended)
                Start(&apps[i]);
    }
}

/* Reads where every process's executable is, as a supervisor looking for
 * running copies of its applications must; returns how many it read. */
static int ReadEveryExecutable(void) {
    DIR* proc = opendir("/proc");
    if (proc == NULL)
        return 0;
    int read = 0;
    struct dirent* entry;
    while ((entry = readdir(proc)) != NULL) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        char link[300];
        char target[4096];
        snprintf(link, sizeof link, "/proc/%s/exe", entry->d_name);
        if (readlink(link, target, sizeof target) > 0)
            ++read;
    }
    closedir(proc);
    return read;
}

static int Restart(long count) {
    for (long i = 0; i <= count; ++i) {
        pid_t pid = Start(&apps[0]);
        if (pid == 0)
            return 1;
        Reap(pid);
    }
    return 0;
}

static int Tree(void) {
    pid_t pid = Start(&apps[0]);
    if (pid == 0)
        return 1;
    char line[64];
    if (fgets(line, sizeof line, stdin) == NULL)
        return 1;
    killpg(pid, SIGKILL);
    Reap(pid);
    return 0;
}

static int Crowd(long count) {
    pid_t* pids = calloc((size_t)count, sizeof *pids);
    for (long i = 0; i < count; ++i) {
        pids[i] = fork();
        if (pids[i] == 0) {
            for (;;)
                pause();
        }
    }
    printf("ready\n");
    fflush(stdout);
    char buffer[64];
    while (fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    for (long i = 0; i < count; ++i)
        if (pids[i] > 0)
            kill(pids[i], SIGKILL);
    while (Reap(-1) > 0) {
    }
    return 0;
}

static int Watch(int count, char** ids) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    struct pollfd* fds = calloc((size_t)count, sizeof *fds);
    int open = 0;
    for (int i = 0; i < count; ++i) {
        int fd = (int)syscall(SYS_pidfd_open, atoi(ids[i]), 0);
        if (fd >= 0) {
            fds[open].fd = fd;
            fds[open].events = POLLIN;
            ++open;
        }
    }
    printf("ready\n");
    fflush(stdout);
    int left = open;
    while (left > 0) {
        if (poll(fds, (nfds_t)open, -1) < 0 && errno != EINTR)
            return 1;
        for (int i = 0; i < open; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --left;
            }
        }
    }
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    printf("%.3f\n", now.tv_sec * 1000.0 + now.tv_nsec / 1e6);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 3 && strcmp(argv[1], "supervise") == 0) {
        ReadApps(argv[2]);
        return Supervise();
    }
    if (argc >= 3 && strcmp(argv[1], "startup") == 0) {
        ReadApps(argv[2]);
        ReadEveryExecutable();
        return Supervise();
    }
    if (argc >= 4 && strcmp(argv[1], "restart") == 0) {
        ReadApps(argv[3]);
        return Restart(atol(argv[2]));
    }
    if (argc >= 3 && strcmp(argv[1], "tree") == 0) {
        ReadApps(argv[2]);
        return Tree();
    }
    if (argc >= 3 && strcmp(argv[1], "crowd") == 0)
        return Crowd(atol(argv[2]));
    if (argc >= 2 && strcmp(argv[1], "watch") == 0)
        return Watch(argc - 2, argv + 2);
    fprintf(stderr, "usage: floor supervise|startup|restart N|tree FILE, crowd N, watch PID...\n");
    return 2;
}
