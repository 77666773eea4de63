// Test harness shared by every test program: child processes with a role, scratch folders.
#ifndef OSSE_TEST_H
#define OSSE_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ossetest {

// A child role is a function run in a fresh copy of the test program, selected by
// "--osse-child=<name>" on its command line; its return value is the process exit code.
using ChildRole = int (*)(const std::vector<std::string>& args);

struct ChildRoleRegistrar {
    ChildRoleRegistrar(const char* name, ChildRole role);
};

// Declares a child role: OSSE_CHILD_ROLE(writer) { ...; return 0; }
#define OSSE_CHILD_ROLE(name)                                                              \
    static int osseChildRole_##name(const std::vector<std::string>& args);                 \
    static ::ossetest::ChildRoleRegistrar osseChildRoleReg_##name(#name, osseChildRole_##name); \
    static int osseChildRole_##name(const std::vector<std::string>& args)

// A started child process of this test program.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    Child(Child&& other) noexcept;
    ~Child();

    // Starts "<this exe> --osse-child=<role> args..."; the environment is inherited, with
    // `env` entries ("NAME=value", or "NAME=" to remove) applied on top.
    // With `inheritHandles` the child inherits every inheritable handle of this process (pass
    // a handle's value on the command line to use it there).
    bool start(const std::string& role, const std::vector<std::string>& args = {},
               const std::vector<std::string>& env = {}, bool inheritHandles = false);
    // The same with another program that has the same roles: the other architecture's build of
    // this test program (see peerTestProgram).
    bool startProgram(const std::string& program, const std::string& role,
                      const std::vector<std::string>& args = {},
                      const std::vector<std::string>& env = {}, bool inheritHandles = false);
    // Waits for the child; returns its exit code, or -1 on timeout (the child is killed).
    int wait(unsigned timeoutMs = 60000);
    // Ends the child at once, wherever it is (exit code 99), and waits until it is gone.
    void kill();
    // True while the child has not exited; false also when it was never started.
    bool running() const;
    unsigned long pid() const { return pid_; }

private:
    void* process_ = nullptr;
    unsigned long pid_ = 0;
};

// Starts a child with a role and waits for it; returns its exit code (-1 when it failed to
// start or timed out).
int runChild(const std::string& role, const std::vector<std::string>& args = {},
             const std::vector<std::string>& env = {}, unsigned timeoutMs = 60000);

// Runs a program (a host path is taken as Wine's Z: drive sees it) with the arguments, its
// standard output and error collected in *out; returns its exit code, -1 when it cannot start
// or does not end within the time limit after closing its output (it is then killed).
int runProgram(const std::string& program, const std::string& args, std::string* out,
               unsigned timeoutMs = 60000);

// The architecture of this test program: "i686" or "x86_64".
const char* thisArch();
// The other architecture's build of this test program (test_trace.exe of the i686 build when
// this one is x86_64, and back), as a Windows path; empty when this machine cannot run it or it
// was not built, with the reason in *why.
std::string peerTestProgram(std::string* why);
// Starts a mixed-architecture test: gives `var` the peer program, or skips the test with the
// reason printed (never a silent pass).
#define OSSE_PEER_PROGRAM_OR_SKIP(var)                                                      \
    std::string var;                                                                        \
    do {                                                                                    \
        std::string osseWhy;                                                                \
        var = ::ossetest::peerTestProgram(&osseWhy);                                        \
        if (var.empty()) GTEST_SKIP() << osseWhy;                                           \
    } while (0)

// A fresh, empty folder under the system's temporary folder, removed with its content at
// destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

}  // namespace ossetest

#endif
