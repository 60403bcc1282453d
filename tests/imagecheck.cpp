#include "imagecheck.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>

#include <zip.h>

#include <algorithm>

namespace check {
namespace {

// A TGA's size from its 18-byte header; colour-mapped, true-colour or grey, raw or run-length.
QSize tgaSize(const QByteArray &b)
{
    if (b.size() < 18 || uchar(b[1]) > 1 || !QByteArray("\1\2\3\11\12\13").contains(b[2]))
        return {};
    const auto le = [&](int at) { return int(uchar(b[at])) | int(uchar(b[at + 1])) << 8; };
    return le(12) && le(14) ? QSize(le(12), le(14)) : QSize();
}

// The shaders of a script: name, editor image, first stage map that is a file. What an
// unclosed brace leaves open is dropped.
void readScript(const QByteArray &text, QHash<QByteArray, QByteArrayList> &shaders)
{
    static const QRegularExpression token(R"x("([^"\n]*)"|//[^\n]*|/\*.*?(\*/|$)|[{}]|[^\s{}]+)x",
                                          QRegularExpression::DotMatchesEverythingOption);
    QByteArrayList words;
    for (auto it = token.globalMatch(QString::fromLatin1(text)); it.hasNext();)
        if (const auto m = it.next(); !m.captured().startsWith("//") && !m.captured().startsWith("/*"))
            words << (m.hasCaptured(1) ? m.captured(1) : m.captured()).toLatin1();
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (words[i + 1] != "{" || words[i] == "}" || words[i] == "{")
            continue;
        QByteArrayList found{{}, {}};
        int depth = 0;
        qsizetype j = i + 1;
        for (; j < words.size() && (depth += (words[j] == "{") - (words[j] == "}")) > 0; ++j) {
            const QByteArray w = words[j].toLower(), next = j + 1 < words.size() ? words[j + 1] : "";
            if (depth == 1 && w == "qer_editorimage")
                found[0] = next.toLower();
            if (depth == 2 && found[1].isEmpty() && (w == "map" || w == "clampmap") &&
                !next.startsWith('$') && next != "}")
                found[1] = next.toLower();
        }
        if (depth > 0)
            return;
        shaders[words[i].toLower()] = found;
        i = j;
    }
}

} // namespace

Images::Images(const QStringList &places)
    : places_(places)
{
    for (int p = 0; p < places.size(); ++p) {
        QByteArrayList names;
        if (QFileInfo(places[p]).isDir()) {
            for (const QString folder : {"textures", "scripts"})
                for (QDirIterator it(places[p] + '/' + folder, QDir::Files,
                                     QDirIterator::Subdirectories);
                     it.hasNext();)
                    names << QDir(places[p]).relativeFilePath(it.next()).toUtf8();
        } else if (zip_t *z = zip_open(QFile::encodeName(places[p]), ZIP_RDONLY, nullptr)) {
            for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i)
                names << zip_get_name(z, zip_uint64_t(i), ZIP_FL_ENC_RAW);
            zip_discard(z);
        }
        for (const QByteArray &name : names)
            files_[name.toLower()] = {p, name};
    }
    QByteArrayList scripts;
    for (auto it = files_.begin(); it != files_.end(); ++it)
        if (it.key().startsWith("scripts/") && it.key().endsWith(".shader"))
            scripts << it.key();
    std::sort(scripts.begin(), scripts.end());
    for (const QByteArray &script : scripts)
        readScript(read(script, 1 << 30), shaders_);
}

// The first `limit` bytes of a file.
QByteArray Images::read(const QByteArray &path, qint64 limit) const
{
    const auto [place, name] = files_.value(path, {-1, {}});
    if (place < 0)
        return {};
    if (QFileInfo(places_[place]).isDir()) {
        QFile file(places_[place] + '/' + name);
        return file.open(QIODevice::ReadOnly) ? file.read(limit) : QByteArray();
    }
    std::shared_ptr<zip_t> &z = zips_[place];
    if (!z)
        z.reset(zip_open(QFile::encodeName(places_[place]), ZIP_RDONLY, nullptr), zip_discard);
    QByteArray data;
    zip_stat_t st;
    if (z && zip_stat(z.get(), name, ZIP_FL_ENC_RAW, &st) == 0)
        if (zip_file_t *f = zip_fopen_index(z.get(), st.index, 0)) {
            data.resize(qsizetype(std::min<zip_uint64_t>(st.size, zip_uint64_t(limit))));
            data.resize(qsizetype(std::max<zip_int64_t>(0, zip_fread(f, data.data(), zip_uint64_t(data.size())))));
            zip_fclose(f);
        }
    return data;
}

// An image by its path, any of the extensions the game tries.
QSize Images::image(QByteArray path) const
{
    path = path.toLower();
    const qsizetype dot = path.lastIndexOf('.');
    const QByteArray ext = dot > path.lastIndexOf('/') ? path.mid(dot) : "";
    if (QByteArrayList{".tga", ".png", ".jpg", ".jpeg"}.contains(ext))
        path.chop(ext.size());
    for (const QByteArray &tried : {ext, QByteArray(".tga"), QByteArray(".png"), QByteArray(".jpg"), QByteArray(".jpeg")}) {
        if (tried.isEmpty() || !files_.contains(path + tried))
            continue;
        const QByteArray bytes = read(path + tried, tried == ".tga" ? 18 : tried == ".png" ? 64 : 1 << 30);
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, tried == ".png" ? "png" : "jpeg");
        const QSize size = tried == ".tga" ? tgaSize(bytes) : reader.size();
        if (size.isValid() && !size.isEmpty())
            return size;
    }
    return {};
}

QSize Images::size(const QByteArray &shader) const
{
    if (const auto known = sizes_.find(shader.toLower()); known != sizes_.end())
        return *known;
    const QByteArrayList script = shaders_.value(shader.toLower(), {{}, {}});
    QSize s;
    for (const QByteArray &path : {script[0], shader, script[1]})
        if (!s.isValid() && !path.isEmpty())
            s = image(path);
    return sizes_[shader.toLower()] = s;
}

} // namespace check
