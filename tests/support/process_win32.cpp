#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "support/process.h"

namespace proc {
namespace {

// Each byte becomes the unit of the same value, as the program's own
// arguments are compared unit by unit.
std::wstring widen(const std::string& bytes) {
    std::wstring wide;
    for (const char byte : bytes) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    }
    return wide;
}

std::string failure(const std::string& what) {
    return what + " failed with error " + std::to_string(GetLastError());
}

// Quotes one argument so that the runtime's command-line parser gives it back
// unchanged: backslashes are literal except before a double quote, where
// 2n backslashes give n and a quote that follows them is escaped by one more.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t unit : arg) {
        if (unit == L'\\') {
            ++backslashes;
            continue;
        }
        if (unit == L'"') {
            line.append(2 * backslashes + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        backslashes = 0;
        line += unit;
    }
    // Doubled, so that the closing quote stays a quote.
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

// Argument zero is parsed by its own rule: everything up to the next blank,
// or between quotes, with backslashes literal. It cannot hold a quote.
void appendProgramName(std::wstring& line, const std::wstring& zero) {
    if (!zero.empty() && zero.find_first_of(L" \t") == std::wstring::npos) {
        line += zero;
    } else {
        line += L'"' + zero + L'"';
    }
}

struct Handle {
    HANDLE value = nullptr;
    Handle() = default;
    explicit Handle(HANDLE h) : value(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    void close() {
        if (value != nullptr) {
            CloseHandle(value);
            value = nullptr;
        }
    }
};

// A pipe whose write end the child inherits and whose read end stays here.
bool makePipe(Handle& read, Handle& write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!CreatePipe(&r, &w, &inherit, 0)) {
        return false;
    }
    read.value = r;
    write.value = w;
    return SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0) != 0;
}

void readAll(HANDLE pipe, std::string& sink) {
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        sink.append(chunk, got);
    }
}

}  // namespace

Result run(const Request& request) {
    Result result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

    Handle input(CreateFileW(L"NUL", GENERIC_READ, SHARE_ALL, &inherit, OPEN_EXISTING, 0,
                             nullptr));
    if (input.value == nullptr) {
        result.startError = failure("opening NUL");
        return result;
    }
    Handle outRead;
    Handle outWrite;
    if (request.stdoutPath.empty()) {
        if (!makePipe(outRead, outWrite)) {
            result.startError = failure("CreatePipe");
            return result;
        }
    } else {
        // Relative to the caller's directory, as on every system.
        outWrite.value = CreateFileW(widen(request.stdoutPath).c_str(), GENERIC_WRITE, SHARE_ALL,
                                     &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (outWrite.value == INVALID_HANDLE_VALUE) {
            outWrite.value = nullptr;
            result.startError = failure("opening " + request.stdoutPath);
            return result;
        }
    }
    Handle errRead;
    Handle errWrite;
    if (!makePipe(errRead, errWrite)) {
        result.startError = failure("CreatePipe");
        return result;
    }

    const std::wstring program = widen(request.program);
    std::wstring line;
    appendProgramName(line,
                      widen(request.argumentZero.empty() ? request.program : request.argumentZero));
    for (const std::string& arg : request.args) {
        line += L' ';
        appendQuoted(line, widen(arg));
    }
    const std::wstring cwd = widen(request.workingDirectory);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.value;
    startup.hStdOutput = outWrite.value;
    startup.hStdError = errWrite.value;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, cwd.empty() ? nullptr : cwd.c_str(), &startup, &child)) {
        result.startError = failure("CreateProcessW");
        return result;
    }
    Handle process(child.hProcess);
    CloseHandle(child.hThread);
    // Only the child may hold the write ends now, so the reads below end
    // when it does.
    input.close();
    outWrite.close();
    errWrite.close();

    // One reader per pipe, so that a child filling one of them never waits
    // on a parent that is reading the other.
    std::thread outReader;
    if (outRead.value != nullptr) {
        outReader = std::thread(readAll, outRead.value, std::ref(result.out));
    }
    std::thread errReader(readAll, errRead.value, std::ref(result.err));

    const DWORD limit = static_cast<DWORD>(request.killAfterSeconds) * 1000;
    if (WaitForSingleObject(process.value, limit) != WAIT_OBJECT_0) {
        TerminateProcess(process.value, 1);
        WaitForSingleObject(process.value, INFINITE);
        result.killed = true;
    }
    if (outReader.joinable()) {
        outReader.join();
    }
    errReader.join();

    DWORD status = 0;
    if (!GetExitCodeProcess(process.value, &status)) {
        result.startError = failure("GetExitCodeProcess");
        return result;
    }
    if (!result.killed) {
        result.exited = true;
        result.exitStatus = static_cast<int>(status);
    }
    return result;
}

}  // namespace proc
