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

// Each byte becomes the unit of the same value.
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

// Quoted so that the runtime's parser gives `arg` back unchanged: backslashes
// are literal except before a quote, where 2n of them give n, and one more
// escapes the quote.
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
        line.append(unit == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        line += unit;
    }
    line.append(2 * backslashes, L'\\');
    line += L'"';
}

struct Handle {
    HANDLE value = nullptr;
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    void close() {
        if (value != nullptr && value != INVALID_HANDLE_VALUE) {
            CloseHandle(value);
        }
        value = nullptr;
    }
};

// The child inherits the write end; the read end stays here.
bool makePipe(Handle& read, Handle& write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreatePipe(&read.value, &write.value, &inherit, 0) &&
           SetHandleInformation(read.value, HANDLE_FLAG_INHERIT, 0);
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
    Handle input;
    Handle outRead;
    Handle outWrite;
    Handle errRead;
    Handle errWrite;
    input.value = CreateFileW(L"NUL", GENERIC_READ, SHARE_ALL, &inherit, OPEN_EXISTING, 0, nullptr);
    if (input.value == INVALID_HANDLE_VALUE) {
        result.startError = failure("opening NUL");
        return result;
    }
    if (!request.stdoutPath.empty()) {
        // Relative to the caller's directory, as on every system.
        outWrite.value = CreateFileW(widen(request.stdoutPath).c_str(), GENERIC_WRITE, SHARE_ALL,
                                     &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (outWrite.value == INVALID_HANDLE_VALUE) {
            result.startError = failure("opening " + request.stdoutPath);
            return result;
        }
    } else if (!makePipe(outRead, outWrite)) {
        result.startError = failure("CreatePipe");
        return result;
    }
    if (!makePipe(errRead, errWrite)) {
        result.startError = failure("CreatePipe");
        return result;
    }

    // Argument zero has its own rule: up to the next blank, or between
    // quotes, backslashes literal; it cannot hold a quote.
    const std::wstring zero =
        widen(request.argumentZero.empty() ? request.program : request.argumentZero);
    std::wstring line = !zero.empty() && zero.find_first_of(L" \t") == std::wstring::npos
                            ? zero
                            : L'"' + zero + L'"';
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
    if (!CreateProcessW(widen(request.program).c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW, nullptr, cwd.empty() ? nullptr : cwd.c_str(), &startup,
                        &child)) {
        result.startError = failure("CreateProcessW");
        return result;
    }
    Handle process;
    process.value = child.hProcess;
    CloseHandle(child.hThread);
    // Only the child holds the write ends now, so the reads end when it does.
    input.close();
    outWrite.close();
    errWrite.close();

    // One reader per pipe, so that a child filling one never waits on the other.
    std::thread outReader;
    if (outRead.value != nullptr) {
        outReader = std::thread(readAll, outRead.value, std::ref(result.out));
    }
    std::thread errReader(readAll, errRead.value, std::ref(result.err));
    if (WaitForSingleObject(process.value, static_cast<DWORD>(request.killAfterSeconds) * 1000) !=
        WAIT_OBJECT_0) {
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
    result.exited = !result.killed;
    result.exitStatus = result.exited ? static_cast<int>(status) : -1;
    return result;
}

}  // namespace proc
