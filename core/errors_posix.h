#pragma once

#include <QString>

namespace core::platform {
// Portuguese description of an errno value.
QString errorText(int err);
} // namespace core::platform
