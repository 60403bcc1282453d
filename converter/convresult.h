// The converter's results: a value, or a Portuguese message saying why there
// is none.
#pragma once

#include "basicresult.h"

#include <string>

namespace bsp2map {

struct Error {
    std::string message;
};

inline Error fail(std::string message)
{
    return Error{std::move(message)};
}

template <class T = void> using Result = vostrand::BasicResult<T, Error>;

} // namespace bsp2map
