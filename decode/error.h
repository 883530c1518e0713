// The one error class of the picture pipeline and the per-thread chain of guarded blocks.
//
// An error is created on the heap at the raising site and thrown as a pointer (or stored as a
// decoder's last error). A guarded block handles it under an ErrorScope:
//
//     ErrorScope scope;
//     try {
//         ...work that may throw CIAException*...
//     } catch (CIAException* error) {
//         scope.pending = error;        // deleted when the scope ends...
//         ReleaseCurrentError();        // ...unless the handler keeps it or throws it on
//         throw error;
//     }
//
// The thread's innermost scope lives in a thread-local slot that the library allocates when it
// is attached to a process (AttachLibrary) and frees when it is detached (DetachLibrary).
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace br {

// Message numbers (string resource numbers of the library's string table).
constexpr std::uint32_t ErrorGeneric = 46001;
constexpr std::uint32_t ErrorFileLoad = 46002;
constexpr std::uint32_t ErrorNoDecoder = 46003;
constexpr std::uint32_t ErrorCorruptData = 46024;
constexpr std::uint32_t ErrorUnsupportedFormat = 46025;
constexpr std::uint32_t ErrorOutOfMemory = 46040;
constexpr std::uint32_t ErrorNoFrames = 46130;

class CIAException {
public:
    CIAException(std::uint32_t code, std::uint32_t componentId, std::uint32_t routineId,
                 std::uint32_t siteId, std::uint32_t detail);
    virtual ~CIAException();

    // Composes the text once (string resource `code`, else 46001, then a line feed and
    // "componentId:routineId:siteId:detail" unless all four are 0) and copies it into the
    // buffer, truncated to capacity - 1 units and terminated. Always returns 1.
    virtual std::uint32_t GetErrorMessage(char16_t* buffer, std::uint32_t capacity);
    virtual std::uint32_t GetErrorCode() { return code; }
    virtual std::uint32_t GetErrorDetail() { return detail; }

    std::uint32_t code;
    std::uint32_t componentId;
    std::uint32_t routineId;
    std::uint32_t siteId;
    std::uint32_t detail;
    char16_t message[520];
    bool autoDelete;

    CIAException(const CIAException&) = delete;
    CIAException& operator=(const CIAException&) = delete;
};

// Allocates an error; null when even that fails (handlers treat null as "no error object").
CIAException* NewError(std::uint32_t code, std::uint32_t componentId, std::uint32_t routineId,
                       std::uint32_t siteId);
// Allocates and throws an error (a null pointer when allocation fails).
[[noreturn]] void ThrowError(std::uint32_t code, std::uint32_t componentId,
                             std::uint32_t routineId, std::uint32_t siteId);

class ErrorScope {
public:
    ErrorScope();   // becomes the thread's innermost scope
    ~ErrorScope();  // deletes `pending` (if autoDelete) and restores the previous scope

    ErrorScope* previous;
    CIAException* pending;

    ErrorScope(const ErrorScope&) = delete;
    ErrorScope& operator=(const ErrorScope&) = delete;
};

// Hands the innermost scope's pending error over to the caller (the scope forgets it).
void ReleaseCurrentError();

// Library life. AttachLibrary records the module in which message texts are looked up, gives
// that module the library's string table and allocates the scope slot; DetachLibrary frees the
// slot. Both are idempotent.
void AttachLibrary(plat::HMODULE module);
void DetachLibrary();
plat::HMODULE MessageModule();

}  // namespace br
