// Test hook: makes the backend's file-system calls fail, or move fewer bytes
// than asked, so that tests can watch the program's answer to a full disk, a
// read error, a refused open or a name that vanishes mid-run. Nothing arms it
// outside the tests; unarmed, each call pays one relaxed atomic load.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/windows_api.h"

namespace platform::faults {

enum class Call {
    CreateFile,
    ReadFile,
    WriteFile,
    CloseHandle,
    DeleteFile,
    MoveFile,
    CreateDirectory,
    RemoveDirectory,
    FindFirstFile,
    FindNextFile,
    GetFileAttributes,
    SetFileAttributes,
    GetFileInformationByHandle,
    SetFileTime,
    CopyFileRange,
    SetExtendedAttribute,
    CreateHardLink,
};

inline constexpr int kForever = -1;
inline constexpr DWORD kNoLimit = 0xFFFFFFFFu;

// Built as Fault(call, code) and the setters below, for instance
// Fault(Call::WriteFile, ERROR_DISK_FULL).onPath("big.bin").skip(2).
struct Fault {
    explicit Fault(Call failingCall, DWORD errorCode = ERROR_GEN_FAILURE)
        : call(failingCall), code(errorCode) {}

    // Only calls about a name holding this text: either name of a move or a
    // copy offload, the name a handle was opened with, the pattern of a
    // listing.
    Fault& onPath(std::string text) {
        path = std::move(text);
        return *this;
    }
    Fault& onExactPath(std::string text) {
        exactPath = true;
        return onPath(std::move(text));
    }
    // Lets this many matching calls through before the first firing.
    Fault& skip(int calls) {
        after = calls;
        return *this;
    }
    Fault& repeat(int count) {
        times = count;
        return *this;
    }
    Fault& always() { return repeat(kForever); }
    // ReadFile, WriteFile, CopyFileRange: moves at most this many bytes, and
    // with a code fails after them (without a limit it moves none).
    Fault& moving(DWORD bytes) {
        limit = bytes;
        return *this;
    }
    // Runs each time the fault fires, before the call itself and outside any
    // lock: it may change the tree (make a name vanish) or call the backend.
    // With code 0 the call then goes on for real.
    Fault& then(std::function<void()> run) {
        action = std::move(run);
        return *this;
    }

    Call call;
    DWORD code;  // the error the call ends with; 0 for none
    std::string path;
    bool exactPath = false;
    int after = 0;
    int times = 1;
    DWORD limit = kNoLimit;
    std::function<void()> action;
};

// Arms a fault; returns its id.
int arm(Fault fault);
// How often the fault with this id has fired so far.
int firings(int id);
// Disarms every fault.
void disarmAll();

// Disarms every fault when it goes out of scope.
struct Scope {
    Scope() = default;
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    ~Scope() { disarmAll(); }
};

}  // namespace platform::faults
