#include "osse_test.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace ossetest {
namespace {

const char kChildFlag[] = "--osse-child=";

std::map<std::string, ChildRole>& roles()
{
    static std::map<std::string, ChildRole> table;
    return table;
}

std::string quoteArg(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

// The parent's environment block with `changes` applied, in the form CreateProcessA takes.
std::string buildEnvironment(const std::vector<std::string>& changes)
{
    std::map<std::string, std::string> vars;  // upper-case name -> "NAME=value"
    auto upper = [](std::string s) {
        for (char& c : s) c = (char)toupper((unsigned char)c);
        return s;
    };
    char* block = GetEnvironmentStringsA();
    for (const char* p = block; *p; p += strlen(p) + 1) {
        std::string entry = p;
        size_t eq = entry.find('=', 1);
        if (eq != std::string::npos) vars[upper(entry.substr(0, eq))] = entry;
    }
    FreeEnvironmentStringsA(block);
    for (const std::string& change : changes) {
        size_t eq = change.find('=');
        std::string name = upper(change.substr(0, eq));
        if (eq == std::string::npos || eq + 1 == change.size())
            vars.erase(name);
        else
            vars[name] = change;
    }
    std::string env;
    for (auto& kv : vars) env += kv.second + '\0';
    return env + '\0';
}

}  // namespace

ChildRoleRegistrar::ChildRoleRegistrar(const char* name, ChildRole role)
{
    roles()[name] = role;
}

Child::Child(Child&& other) noexcept : process_(other.process_), pid_(other.pid_)
{
    other.process_ = nullptr;
}

Child::~Child()
{
    if (process_) {
        wait();
    }
}

bool Child::start(const std::string& role, const std::vector<std::string>& args,
                  const std::vector<std::string>& env, bool inheritHandles)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    return startProgram(exe, role, args, env, inheritHandles);
}

bool Child::startProgram(const std::string& program, const std::string& role,
                         const std::vector<std::string>& args, const std::vector<std::string>& env,
                         bool inheritHandles)
{
    const char* exe = program.c_str();
    std::string cmd = quoteArg(exe) + " " + kChildFlag + role;
    for (const std::string& a : args) cmd += " " + quoteArg(a);
    std::string envBlock = buildEnvironment(env);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> cmdLine(cmd.begin(), cmd.end());
    cmdLine.push_back('\0');
    if (!CreateProcessA(exe, cmdLine.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE, 0,
                        env.empty() ? nullptr : &envBlock[0], nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start %s (role %s): error %lu\n", exe, role.c_str(),
                (unsigned long)GetLastError());
        return false;
    }
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    return true;
}

int Child::wait(unsigned timeoutMs)
{
    if (!process_) return -1;
    int code = -1;
    if (WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        if (GetExitCodeProcess(process_, &exitCode)) code = (int)exitCode;
    } else {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
    process_ = nullptr;
    return code;
}

void Child::kill()
{
    if (!process_) return;
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 10000);  // an ended process is gone at once; never held for good
    CloseHandle(process_);
    process_ = nullptr;
}

bool Child::running() const
{
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

const char* thisArch()
{
    return sizeof(void*) == 8 ? "x86_64" : "i686";
}

std::string peerTestProgram(std::string* why)
{
    const char* peer = sizeof(void*) == 8 ? "i686" : "x86_64";
#if defined(OSSE_PEER_RUNS) && OSSE_PEER_RUNS
    std::string dir = OSSE_PEER_BUILD_DIR;
#else
    std::string dir;
#endif
    if (dir.empty()) {
        *why = std::string("mixed-architecture test not run: this machine cannot execute the ") +
               peer + " build (or none was configured beside this one)";
        return "";
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const char* name = strrchr(self, '\\');
    // A host path is seen through Wine's Z: drive.
    std::string path = "Z:" + dir + "/tests/" + (name ? name + 1 : self);
    for (char& c : path)
        if (c == '/') c = '\\';
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *why = std::string("mixed-architecture test not run: the ") + peer + " build has no " +
               path + " (build both architectures)";
        return "";
    }
    return path;
}

int runChild(const std::string& role, const std::vector<std::string>& args,
             const std::vector<std::string>& env, unsigned timeoutMs)
{
    Child child;
    if (!child.start(role, args, env)) return -1;
    return child.wait(timeoutMs);
}

int runProgram(const std::string& program, const std::string& args, std::string* out, unsigned timeoutMs) {
    std::string exe = program;
    if (!exe.empty() && exe[0] == '/') {
        for (char& c : exe)
            if (c == '/') c = '\\';
        exe = "Z:" + exe;
    }
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    std::string line = "\"" + exe + "\" " + args;
    PROCESS_INFORMATION pi = {};
    const BOOL started =
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    out->clear();
    int rc = -1;
    if (started) {
        // Read while the program runs (the pipe would otherwise fill and stall it), and what it
        // left once it ended, all within the time given: a program that hangs, or a process it
        // started that holds the pipe open, does not hold the caller.
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        char buffer[4096];
        for (bool ended = false;;) {
            DWORD ready = 0, got = 0;
            if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &ready, nullptr)) break;  // closed
            if (ready) {
                if (!ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || !got) break;
                out->append(buffer, got);
                continue;
            }
            if (ended || GetTickCount64() >= deadline) break;
            ended = WaitForSingleObject(pi.hProcess, 5) == WAIT_OBJECT_0;
        }
        const ULONGLONG now = GetTickCount64();
        DWORD code = 0;
        if (WaitForSingleObject(pi.hProcess, now < deadline ? (DWORD)(deadline - now) : 0) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(pi.hProcess, &code)) {
            rc = (int)code;
        } else {
            TerminateProcess(pi.hProcess, 99);
        }
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(readEnd);
    return rc;
}

TempDir::TempDir()
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static LONG counter = 0;
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%sosse_test_%lu_%ld_%lu", base, GetCurrentProcessId(),
             InterlockedIncrement(&counter), GetTickCount());
    CreateDirectoryA(name, nullptr);
    path_ = name;
}

namespace {
void removeTree(const std::string& dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full);
            else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}
}  // namespace

TempDir::~TempDir()
{
    removeTree(path_);
}

}  // namespace ossetest

// The test programs' entry point: a child role when asked for one, the tests otherwise.
int main(int argc, char** argv)
{
    const size_t flagLen = sizeof ossetest::kChildFlag - 1;
    if (argc > 1 && strncmp(argv[1], ossetest::kChildFlag, flagLen) == 0) {
        auto it = ossetest::roles().find(argv[1] + flagLen);
        if (it == ossetest::roles().end()) {
            fprintf(stderr, "unknown child role %s\n", argv[1] + flagLen);
            return 98;
        }
        return it->second(std::vector<std::string>(argv + 2, argv + argc));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
