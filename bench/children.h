// What the benchmarks that run processes share: starting a child with its
// output dropped, waiting for it, and finding this program again.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

[[noreturn]] inline void Die(const std::string& what)
{
    std::perror(what.c_str());
    std::exit(1);
}

// Starts `args` (a path and its arguments) with its standard output, and
// with `quietErrors` its standard error, going nowhere.
inline pid_t Start(const std::vector<std::string>& args, bool quietErrors = false)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        if (quietErrors)
            ::dup2(quiet, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        Die("exec " + args[0]);
    }
    return pid;
}

// The child's exit status once it has ended; 128 when a signal ended it.
inline int ExitStatusOf(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// This program's own path, to start it again as a child.
inline std::string SelfPath()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
}
