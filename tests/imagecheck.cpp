#include "imagecheck.h"
#include "mapcheck.h"

#include <QBuffer>
#include <QDirIterator>
#include <QHash>
#include <QImageReader>
#include <QRegularExpression>

#include <memory>

namespace check {
namespace {

// A TGA's size from its 18-byte header.
QSize tgaSize(const QByteArray &b)
{
    const auto le = [&](int at) { return int(uchar(b[at])) | int(uchar(b[at + 1])) << 8; };
    return b.size() >= 18 && le(12) && le(14) ? QSize(le(12), le(14)) : QSize();
}

struct Game {
    QStringList places;
    QHash<QByteArray, QPair<int, QByteArray>> files; // lower-case path: place, name there
    QHash<QByteArray, QByteArrayList> shaders;       // editor image, first stage image
    QHash<QByteArray, QSize> sizes;

    QByteArray read(const QByteArray &path, qint64 limit)
    {
        const auto [place, name] = files.value(path, {-1, {}});
        if (QFile file(places.value(place) + '/' + name); place >= 0 && file.open(QFile::ReadOnly))
            return file.read(limit);
        return place < 0 ? QByteArray() : unzip(places[place], QString::fromUtf8(name)).left(limit);
    }

    // The shaders of a script; what an unclosed brace leaves open is dropped.
    void readScript(const QByteArray &text)
    {
        static const QRegularExpression comment(R"(//[^\n]*|/\*.*?(\*/|$))",
                                                QRegularExpression::DotMatchesEverythingOption);
        QString words = QString::fromLatin1(text.toLower()).remove(comment);
        const QByteArrayList w =
            words.replace('{', " { ").replace('}', " } ").simplified().toLatin1().split(' ');
        for (qsizetype i = 0, j = 0, depth = 0; i + 1 < w.size(); i = j, depth = 0) {
            QByteArrayList found{{}, {}};
            for (j = i + 1;
                 j < w.size() && w[i + 1] == "{" && (depth += (w[j] == "{") - (w[j] == "}")) > 0;
                 ++j) {
                const QByteArray next = w.value(j + 1);
                if (depth == 1 && w[j] == "qer_editorimage")
                    found[0] = next;
                if (depth == 2 && found[1].isEmpty() && (w[j] == "map" || w[j] == "clampmap") &&
                    !next.startsWith('$'))
                    found[1] = next;
            }
            if (depth > 0)
                return;
            if (w[i + 1] == "{" && w[i] != "}")
                shaders[w[i]] = found;
        }
    }

    // An image by its path, under any of the extensions the game tries.
    QSize image(QByteArray path)
    {
        const QByteArray ext =
            QRegularExpression("\\.(tga|png|jpe?g)$").match(path).captured().toLatin1();
        path.chop(ext.size());
        for (const QByteArray &tried : {ext, QByteArray(".tga"), QByteArray(".png"),
                                        QByteArray(".jpg"), QByteArray(".jpeg")}) {
            if (tried.isEmpty() || !files.contains(path + tried))
                continue;
            QByteArray bytes = read(path + tried, tried == ".tga" ? 18 : 1 << 28);
            QBuffer buffer(&bytes);
            QImageReader reader(&buffer, tried == ".png" ? "png" : "jpeg");
            if (const QSize s = tried == ".tga" ? tgaSize(bytes) : reader.size(); !s.isEmpty())
                return s;
        }
        return {};
    }
};

} // namespace

Sizes imageSizes(const QStringList &places)
{
    auto game = std::make_shared<Game>(Game{places, {}, {}, {}});
    for (int p = 0; p < places.size(); ++p) {
        QByteArrayList names;
        for (QDirIterator it(places[p], QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            names << QDir(places[p]).relativeFilePath(it.next()).toUtf8();
        names << unzip(places[p], "").split('\n'); // a pk3's, whole; none for a folder
        for (const QByteArray &name : names)
            game->files[name.toLower()] = {p, name};
    }
    QByteArrayList scripts = game->files.keys();
    scripts.removeIf(
        [](const QByteArray &n) { return !n.startsWith("scripts/") || !n.endsWith(".shader"); });
    std::sort(scripts.begin(), scripts.end());
    for (const QByteArray &script : scripts)
        game->readScript(game->read(script, 1 << 28));
    return [game](const QByteArray &shader) {
        const QByteArray name = shader.toLower();
        const QByteArrayList script = game->shaders.value(name, {{}, {}});
        if (!game->sizes.contains(name))
            for (const QByteArray &path : {script[0], name, script[1]})
                if (!game->sizes[name].isValid() && !path.isEmpty())
                    game->sizes[name] = game->image(path);
        return game->sizes.value(name);
    };
}

} // namespace check
