// The program's results: a value, or an errno value or one of the program's
// own reasons, which the windows put into words.
#pragma once

#include "basicresult.h"

#include <QString>

namespace core {

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
    friend bool operator==(const Error &, const Error &) = default;
};

// What every function that can fail returns: its value, or why it failed.
template <class T = void> using Result = vostrand::BasicResult<T, Error>;

} // namespace core
