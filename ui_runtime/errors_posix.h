#pragma once

#include <QString>

namespace ui::platform {
// Portuguese description of an errno value.
QString errorText(int err);
} // namespace ui::platform
