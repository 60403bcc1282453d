// The checker's own finding of a shader's image size, as the game finds it:
// pk3s and loose folders in load order, later ones winning; the shader's
// qer_editorimage, then an image of its name, then its first stage's map.
// Shares nothing with the converter.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QSize>
#include <QStringList>

#include <memory>

typedef struct zip zip_t;

namespace check {

class Images {
public:
    // Zip files and folders, the later winning.
    explicit Images(const QStringList &places);
    // Invalid when no image is found.
    QSize size(const QByteArray &shader) const;

private:
    QByteArray read(const QByteArray &path, qint64 limit) const;
    QSize image(QByteArray path) const;

    QStringList places_;
    QHash<QByteArray, QPair<int, QByteArray>> files_; // lower-case path: place, name there
    QHash<QByteArray, QByteArrayList> shaders_;       // editor image, first stage image
    mutable QHash<int, std::shared_ptr<zip_t>> zips_;
    mutable QHash<QByteArray, QSize> sizes_;
};

} // namespace check
