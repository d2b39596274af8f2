// Runs a program as a child with its standard output on a pipe, for tests of real processes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class child_process {
public:
    // Starts `argv` with the extra environment entries ("NAME=value"); stderr joins stdout.
    child_process(const std::vector<std::string> &argv, const std::vector<std::string> &env);
    ~child_process();
    child_process(const child_process &) = delete;
    child_process &operator=(const child_process &) = delete;

    pid_t pid() const { return pid_; }
    // Reads output until it contains `text`; false on timeout or end of output.
    bool wait_for_output(const std::string &text, std::chrono::milliseconds timeout);
    const std::string &output() const { return output_; }
    // Waits for the exit; returns the exit status, 128 + signal when killed, -1 on timeout.
    int wait_exit(std::chrono::milliseconds timeout);

private:
    bool read_some(std::chrono::milliseconds timeout);
    pid_t pid_ = -1;
    int out_fd_ = -1;
    bool reaped_ = false;
    std::string output_;
};

// Waits for a child of this process (including orphans adopted as subreaper); same codes as above.
int wait_child_exit(pid_t pid, std::chrono::milliseconds timeout);

// A fresh directory under /tmp, removed with its contents at destruction.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

std::string read_text_file(const std::string &path);
