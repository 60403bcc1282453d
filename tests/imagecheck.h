// The checker's own finding of a shader's image size, as the game finds it:
// pk3s and folders in load order, the later winning; the shader's qer_editorimage,
// then an image of its name, then its first stage's map. Shares nothing with the
// converter.
#pragma once

#include <QSize>
#include <QStringList>

#include <functional>

namespace check {

using Sizes = std::function<QSize(const QByteArray &shader)>; // invalid when none is found
Sizes imageSizes(const QStringList &places);

} // namespace check
