/* Runs one command as a whole process and tells how long it took, from just before
 * it was started to the moment it ended, with nothing else of the caller's in the way
 * (a shell's own timing would add its fork and bookkeeping).
 *
 *   spawn_time SECONDS OUTPUT COMMAND [ARG...]
 *
 * The command's standard output and error go to the file OUTPUT. Prints the wall
 * time in microseconds; exits with the command's status, 127 when it could not be
 * started, or 124 when it ran longer than SECONDS and was ended (this process's own
 * child, by its id). */
#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int64_t MonotonicNs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: spawn_time SECONDS OUTPUT COMMAND [ARG...]\n");
        return 2;
    }
    const int limit = atoi(argv[1]) > 0 ? atoi(argv[1]) : 1;
    const int output = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output < 0) {
        perror("spawn_time: output");
        return 2;
    }
    /* The end of the child wakes the wait below at once. */
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigprocmask(SIG_BLOCK, &child, NULL);

    const int64_t started = MonotonicNs();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("spawn_time: fork");
        return 2;
    }
    if (pid == 0) {
        sigprocmask(SIG_UNBLOCK, &child, NULL);
        dup2(output, 1);
        dup2(output, 2);
        execvp(argv[3], argv + 3);
        _exit(127);
    }

    struct timespec deadline = {limit, 0};
    const int64_t limitNs = (int64_t)limit * 1000000000;
    int status = 0;
    int64_t ended = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            ended = MonotonicNs();
            break;
        }
        const int64_t left = limitNs - (MonotonicNs() - started);
        if (left <= 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            fprintf(stderr, "spawn_time: %s ran longer than %d s\n", argv[3], limit);
            return 124;
        }
        deadline.tv_sec = left / 1000000000;
        deadline.tv_nsec = left % 1000000000;
        sigtimedwait(&child, NULL, &deadline);
    }
    printf("%lld\n", (long long)((ended - started) / 1000));
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
