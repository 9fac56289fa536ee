#pragma once
// How the sound core, and everything built on it, reports a failure: one Error type from the
// deepest layer up to the window and the command line.
//
// An Error says what failed and why, in three parts:
//  - file(): the file it concerns, named once; empty when no file is concerned (a sound device,
//    an input, an option);
//  - cause(): the cause in words, the system's or the library's where they have some, without
//    the file's name;
//  - code(): where a message shows the user a number ("error code: N"), that number; 0 otherwise.
// Texts for the user are composed from these parts in one place per surface (the window's
// messages, the command line's lines). No layer puts its own prefix in front of the words of
// the layer below: a layer that knows more adds it to the cause once, or names the file.
//
// Where the words a surface shows depend on the step of a longer work that failed (the encoder's
// stages, the cut's steps), the step travels inside the Error: step() is a tag the work's callers
// compare (an enum of that work, 0 when none is set), stepWords() its words for the user
// ("removing the head"), empty when the surface needs none.
//
// Every function that can fail returns Result<T> (a value or an Error), or Status when there is
// no value: `return {};` is success, `return Error{file, cause};` failure.

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace quaverly {

// The codes of sound failures that the window shows as "error code: N". The numbers are those the
// program has always shown for these causes; new causes take new numbers, never an old one.
namespace sound {
enum Code : int {
    kOk = 0,
    kMemory = 1,    // out of memory
    kFileOpen = 2,  // the file could not be opened or read
    kDriver = 3,    // no sound server or device; the device failed
    kFormat = 6,    // a sample format that cannot be read, played or recorded
    kPosition = 7,  // a position outside the sound
    kStart = 9,     // the device refused to start
    kIllParam = 20, // a value that cannot be used (an input that does not exist, ...)
    kCreate = 33,   // a decoder could not be set up
    kNotAvail = 37, // what was asked for is not available (an input gone, a decode cut short)
    kFileForm = 41, // not a file of a format that is read
    kUnknown = -1,
};

// Whether a failure's number tells more than its words: the causes met every day (no such file,
// no sound in it, a damaged file) say all in words, so their numbers are not shown.
inline bool codeTellsMore(int code) {
    return code != kOk && code != kFileOpen && code != kFileForm && code != kNotAvail;
}
} // namespace sound

class Error {
public:
    Error(QString file, QString cause, int code = 0)
        : file_(std::move(file)), cause_(std::move(cause)), code_(code) {}

    const QString& file() const { return file_; }
    const QString& cause() const { return cause_; }
    int code() const { return code_; }

    // "file: cause", or the cause alone when no file is named.
    QString text() const {
        return file_.isEmpty() ? cause_ : file_ + QStringLiteral(": ") + cause_;
    }

    int step() const { return step_; }
    const QString& stepWords() const { return stepWords_; }

    // The same failure told of another file: a scratch file that stands for its target, a
    // working copy that stands for the song the user picked.
    Error about(QString file) const {
        Error e = *this;
        e.file_ = std::move(file);
        return e;
    }

    // The same failure, met at `step` of a longer work (see above).
    template <typename Step> Error during(Step step, QString words = {}) const {
        Error e = *this;
        e.step_ = static_cast<int>(step);
        e.stepWords_ = std::move(words);
        return e;
    }

    friend bool operator==(const Error&, const Error&) = default;

private:
    QString file_;
    QString cause_;
    int code_ = 0;
    int step_ = 0;
    QString stepWords_;
};

// A value, or the Error that kept it from being made.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    // Only when !ok().
    const Error& error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

// Success, or the Error of a failure.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }

    // Only when !ok().
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

using Status = Result<void>;

} // namespace quaverly
