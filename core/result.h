#pragma once

#include <QString>

#include <utility>
#include <variant>

namespace core {

// Why something failed: an errno value, or one of the program's own reasons.
// The windows put it into words.
struct Error {
    enum Own : int {
        NulInArgument = -1,      // an argument holds a NUL, which no C string can carry
        NoProgramFolder = -2,    // the tool would be looked up from the working directory
        MissingInterpreter = -3, // the "#!" line of the program names a missing file
        MissingLoader = -4,      // the ELF loader that the program names is missing
    };
    explicit Error(int code = 0, QString subject = {})
        : code(code)
        , subject(std::move(subject))
    {
    }
    int code;
    QString subject; // the file that the reason names, when it names one
    friend bool operator==(Error, Error) = default;
};

// What every function that can fail returns: its value, or why it failed.
template <typename T = std::monostate> class [[nodiscard]] Result {
public:
    Result(T value = {})
        : state(std::move(value))
    {
    }
    Result(Error error)
        : state(error)
    {
    }

    bool ok() const { return state.index() == 0; }
    const T &value() const { return std::get<0>(state); }
    T &value() { return std::get<0>(state); }
    Error error() const { return ok() ? Error{} : std::get<1>(state); }

private:
    std::variant<T, Error> state;
};

} // namespace core
