// Runs a command RUNS times, as posix_spawn starts it (so no copy of this program's
// memory counts), with standard output to /dev/null, and prints the medians of its
// wall time, user+sys CPU time and peak resident memory:
//     measure RUNS command [args...]   ->   wall_ms cpu_ms rss_kib
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace {

double measure_now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double measure_median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: measure RUNS command [args...]\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<double> wall;
    std::vector<double> cpu;
    std::vector<double> rss;
    for (int run = 0; run < runs; ++run) {
        const double start = measure_now_ms();
        pid_t child = 0;
        if (posix_spawn(&child, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
            perror(argv[2]);
            return 1;
        }
        int status = 0;
        rusage usage{};
        if (wait4(child, &status, 0, &usage) != child) return 1;
        wall.push_back(measure_now_ms() - start);
        cpu.push_back(static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
        rss.push_back(static_cast<double>(usage.ru_maxrss));
    }
    printf("%.2f %.3f %.0f\n", measure_median(wall), measure_median(cpu), measure_median(rss));
    return 0;
}
