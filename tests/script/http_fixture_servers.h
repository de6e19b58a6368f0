#pragma once
// The web servers of the HTTP tests (http_fixture_server.py): an ordinary http.server and a
// scripted hostile socket server on 127.0.0.1, started as one child process for the life of the
// object. Closing the child's standard input ends it.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

extern char** environ;

namespace velt::test {

class HttpFixtureServers {
public:
    HttpFixtureServers() {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char python[] = "python3";
        std::string script = VELT_HTTP_FIXTURE_SERVER;
        char* argv[] = {python, script.data(), nullptr};
        const int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        if (rc != 0) {
            pid_ = -1;
            close(out[0]);
            return;
        }
        std::FILE* f = fdopen(out[0], "r");
        int web = 0;
        int hostile = 0;
        if (f != nullptr && std::fscanf(f, "PORTS %d %d", &web, &hostile) == 2) {
            webPort = web;
            hostilePort = hostile;
        }
        if (f != nullptr) std::fclose(f);
    }
    ~HttpFixtureServers() {
        if (stdin_ >= 0) close(stdin_);
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    HttpFixtureServers(const HttpFixtureServers&) = delete;
    HttpFixtureServers& operator=(const HttpFixtureServers&) = delete;

    bool Ready() const { return webPort > 0 && hostilePort > 0; }
    // "127.0.0.1:<port><path>" on either server.
    std::string Web(const std::string& path) const { return "127.0.0.1:" + std::to_string(webPort) + path; }
    std::string Hostile(const std::string& path) const {
        return "127.0.0.1:" + std::to_string(hostilePort) + path;
    }

    int webPort = 0;
    int hostilePort = 0;

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
};

}  // namespace velt::test
