// Errors reported by the engine: what kind of failure it is, a message, the
// file it concerns and, where there is one, the line (text files) or byte
// offset (binary files).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace lorvane {

// What went wrong, for callers that act on it (a cancel is no failure to show,
// a busy engine can be asked again later...). The message is for people.
enum class ErrorKind {
    None,        // no error
    NotFound,    // the file does not exist
    Syntax,      // the content is not what the file's format allows
    Changed,     // the file no longer matches what was loaded from it
    Cancelled,   // the user stopped the operation
    Busy,        // another operation is running
    InputOutput, // the system could not open, read or write the file
    Invalid,     // the request cannot be met (no such lap, a lap too long, a file refused by name)
};

// "not found", "bad syntax"... for messages and JSON.
const char* errorKindName(ErrorKind kind);

struct Diagnostic {
    std::string message;      // e.g. "File not found", "'x' is not a valid floating point value"
    std::string file;         // path of the file concerned, empty when none
    std::int64_t line = 0;    // 1-based line number, 0 when not applicable
    std::int64_t offset = -1; // byte offset, -1 when not applicable
    ErrorKind kind = ErrorKind::None;

    // "message" followed, when known, by a second line naming file and position.
    std::string describe() const;
    // Just the second line ("in FILE, line N"), empty when nothing is known.
    std::string where() const;
};

// Thrown inside the engine; turned into a Diagnostic at the public boundary.
class LoadError : public std::runtime_error {
public:
    explicit LoadError(Diagnostic d) : std::runtime_error(d.message), diag_(std::move(d)) {}
    const Diagnostic& diagnostic() const noexcept { return diag_; }
    Diagnostic& diagnostic() noexcept { return diag_; }

private:
    Diagnostic diag_;
};

[[noreturn]] void fail(ErrorKind kind, std::string message, std::string file = {}, std::int64_t line = 0,
                       std::int64_t offset = -1);

// Error messages shared by every reader.
inline constexpr const char* kFileNotFound = "File not found";
inline constexpr const char* kReadBeyondEnd = "Read beyond end of file";
std::string notAValidFloat(std::string_view text);   // "'%s' is not a valid floating point value"
std::string notAValidInteger(std::string_view text); // "'%s' is not a valid integer value"

} // namespace lorvane
