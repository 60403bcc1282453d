#include "imagesizes.h"

#include "shaderscripts.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace bsp2map {
namespace {

// Enough for any TGA or PNG header, and for a JPEG's frame unless a large
// thumbnail or colour profile comes first.
constexpr std::size_t kHead = 64 * 1024;

bool endsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The extension of an image name, lower case with its dot, or empty.
std::string_view imageExtension(std::string_view name)
{
    for (const std::string_view ext : {".tga", ".png", ".jpg", ".jpeg"})
        if (endsWith(name, ext))
            return ext;
    return {};
}

unsigned byteAt(std::span<const std::byte> b, std::size_t at)
{
    return static_cast<unsigned>(b[at]);
}
unsigned le16(std::span<const std::byte> b, std::size_t at)
{
    return byteAt(b, at) | byteAt(b, at + 1) << 8;
}
unsigned be16(std::span<const std::byte> b, std::size_t at)
{
    return byteAt(b, at) << 8 | byteAt(b, at + 1);
}
std::uint32_t be32(std::span<const std::byte> b, std::size_t at)
{
    return std::uint32_t(be16(b, at)) << 16 | be16(b, at + 2);
}

HeaderRead found(unsigned width, unsigned height, ImageSize &size)
{
    if (width == 0 || height == 0 || width > 65536 || height > 65536)
        return HeaderRead::Corrupt;
    size = {static_cast<int>(width), static_cast<int>(height)};
    return HeaderRead::Found;
}

HeaderRead pngSize(std::span<const std::byte> b, ImageSize &size)
{
    static constexpr unsigned char mark[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                             0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    if (b.size() < 24 || !std::equal(std::begin(mark), std::end(mark), b.begin(),
                                     [](unsigned char m, std::byte x) { return m == unsigned(x); }))
        return HeaderRead::Corrupt;
    return found(be32(b, 16), be32(b, 20), size);
}

// The first start-of-frame marker's height and width, walking the segments.
HeaderRead jpegSize(std::span<const std::byte> b, bool complete, ImageSize &size)
{
    const HeaderRead shortOf = complete ? HeaderRead::Corrupt : HeaderRead::NeedMore;
    if (b.size() < 2 || byteAt(b, 0) != 0xff || byteAt(b, 1) != 0xd8)
        return b.size() < 2 ? shortOf : HeaderRead::Corrupt;
    std::size_t at = 2;
    while (true) {
        if (at + 4 > b.size())
            return shortOf;
        if (byteAt(b, at) != 0xff)
            return HeaderRead::Corrupt;
        const unsigned marker = byteAt(b, at + 1);
        if (marker == 0xff) { // fill
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) { // no length
            at += 2;
            continue;
        }
        if (marker == 0xd9 || marker == 0xda) // the end, or the scan, before any frame
            return HeaderRead::Corrupt;
        const unsigned length = be16(b, at + 2);
        if (length < 2)
            return HeaderRead::Corrupt;
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
            marker != 0xcc) {
            if (at + 9 > b.size())
                return shortOf;
            return found(be16(b, at + 7), be16(b, at + 5), size);
        }
        at += 2 + length;
    }
}

HeaderRead tgaSize(std::span<const std::byte> b, ImageSize &size)
{
    if (b.size() < 18)
        return HeaderRead::Corrupt;
    const unsigned colourMap = byteAt(b, 1), type = byteAt(b, 2);
    if (colourMap > 1 ||
        !(type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11))
        return HeaderRead::Corrupt;
    return found(le16(b, 12), le16(b, 14), size);
}

// At most `limit` bytes from the start of a file; all of it without a limit.
std::optional<std::vector<std::byte>> fileBytes(const fs::path &path,
                                                std::optional<std::size_t> limit)
{
    std::ifstream in(path, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (!in || error)
        return std::nullopt;
    std::vector<std::byte> bytes(limit ? std::min<std::uintmax_t>(*limit, size) : size);
    in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.bad())
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

} // namespace

HeaderRead imageSizeOf(std::string_view fileName, std::span<const std::byte> head, bool complete,
                       ImageSize &size)
{
    const std::string_view ext = imageExtension(lower(fileName));
    if (ext == ".png")
        return pngSize(head, size);
    if (ext == ".jpg" || ext == ".jpeg")
        return jpegSize(head, complete, size);
    if (ext == ".tga")
        return tgaSize(head, size);
    return HeaderRead::Corrupt;
}

std::vector<fs::path> gamePlaces(const fs::path &folder)
{
    std::vector<fs::path> pk3s;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (endsWith(lower(it->path().filename().native()), ".pk3") && it->is_regular_file(error))
            pk3s.push_back(it->path());
    // By the bytes of their names, as the game sorts them.
    std::sort(pk3s.begin(), pk3s.end(), [](const fs::path &a, const fs::path &b) {
        return a.filename().native() < b.filename().native();
    });
    pk3s.push_back(folder);
    return pk3s;
}

GameImages::GameImages(const std::vector<fs::path> &places, Warn warn)
    : places_(places)
    , warn_(std::move(warn))
{
}

// Only a map that asks for a size pays for the index: a Quake 2 map never does.
void GameImages::indexPlaces()
{
    for (const fs::path &place : std::exchange(places_, {})) {
        std::error_code error;
        if (fs::is_directory(place, error)) {
            sources_.push_back({place, std::nullopt});
            indexFolder(sources_.size() - 1);
            continue;
        }
        auto pk3 = Pk3::open(place);
        if (!pk3) {
            warn_("aviso: " + place.native() + ": " + pk3.error().message +
                  "; suas imagens não serão procuradas");
            continue;
        }
        sources_.push_back({place, std::move(*pk3)});
        index(sources_.size() - 1);
    }
    readScripts();
}

GameImages::~GameImages() = default;

void GameImages::index(std::size_t source)
{
    for (std::string &name : sources_[source].pk3->entries()) {
        std::string key = lower(name);
        if (!imageExtension(key).empty() || endsWith(key, ".shader"))
            files_.insert_or_assign(std::move(key), Location{source, std::move(name)});
    }
}

// Only the loose textures/ and scripts/ folders, at any depth below them.
void GameImages::indexFolder(std::size_t source)
{
    const fs::path &root = sources_[source].path;
    std::error_code error;
    for (fs::directory_iterator top(root, error), end; !error && top != end; top.increment(error)) {
        const std::string folder = lower(top->path().filename().native());
        if ((folder != "textures" && folder != "scripts") || !top->is_directory(error))
            continue;
        const auto options = fs::directory_options::skip_permission_denied;
        for (fs::recursive_directory_iterator it(top->path(), options, error), last;
             !error && it != last; it.increment(error)) {
            std::string name = it->path().lexically_relative(root).generic_string();
            std::string key = lower(name);
            if ((!imageExtension(key).empty() || endsWith(key, ".shader")) &&
                it->is_regular_file(error))
                files_.insert_or_assign(std::move(key), Location{source, std::move(name)});
        }
    }
}

std::string GameImages::shown(const Location &at) const
{
    return (sources_[at.source].path / at.name).native();
}

// Every script the game would read, in the order it reads them: a shader
// defined twice keeps the later definition.
void GameImages::readScripts()
{
    std::vector<const std::pair<const std::string, Location> *> scripts;
    for (const auto &file : files_)
        if (file.first.starts_with("scripts/") && endsWith(file.first, ".shader"))
            scripts.push_back(&file);
    std::sort(scripts.begin(), scripts.end(),
              [](const auto *a, const auto *b) { return a->first < b->first; });
    for (const auto *script : scripts) {
        const Location &at = script->second;
        const Source &source = sources_[at.source];
        std::vector<std::byte> bytes;
        if (source.pk3) {
            auto read = source.pk3->read(at.name);
            if (!read) {
                warn_("aviso: " + read.error().message + "; script ignorado");
                continue;
            }
            bytes = std::move(*read);
        } else if (auto read = fileBytes(source.path / at.name, std::nullopt)) {
            bytes = std::move(*read);
        }
        const ShaderScript parsed = readShaderScript(
            std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
        if (!parsed.problem.empty())
            warn_("aviso: " + shown(at) + ": " + parsed.problem +
                  "; os shaders depois dela foram ignorados");
        for (const ShaderImages &shader : parsed.shaders)
            shaders_.insert_or_assign(shader.name, Images{shader.editorImage, shader.stageImage});
    }
}

std::optional<ImageSize> GameImages::readSize(const Location &at)
{
    const Source &source = sources_[at.source];
    // The head, or the whole file when a JPEG's frame lies beyond it.
    const auto read = [&](bool whole) -> std::optional<std::vector<std::byte>> {
        if (!source.pk3) {
            auto bytes =
                fileBytes(source.path / at.name, whole ? std::nullopt : std::optional(kHead));
            if (!bytes)
                warn_("aviso: " + shown(at) + ": a imagem não pôde ser lida");
            return bytes;
        }
        auto bytes = whole ? source.pk3->read(at.name) : source.pk3->readHead(at.name, kHead);
        if (!bytes)
            warn_("aviso: " + shown(at) + ": " + bytes.error().message);
        return bytes ? std::optional(std::move(*bytes)) : std::nullopt;
    };
    ImageSize size;
    auto head = read(false);
    HeaderRead result = HeaderRead::Corrupt;
    if (head)
        result = imageSizeOf(at.name, *head, head->size() < kHead, size);
    if (result == HeaderRead::NeedMore && (head = read(true)))
        result = imageSizeOf(at.name, *head, true, size);
    if (result == HeaderRead::Found)
        return size;
    if (head)
        warn_("aviso: " + shown(at) + ": cabeçalho de imagem danificado; a imagem foi ignorada");
    return std::nullopt;
}

// The image a path names: with its own extension first, then the others the
// game tries.
std::optional<ImageSize> GameImages::imageFile(const std::string &path)
{
    const std::string_view ext = imageExtension(path);
    const std::string stem = path.substr(0, path.size() - ext.size());
    for (const std::string_view tried : {ext, std::string_view(".tga"), std::string_view(".png"),
                                         std::string_view(".jpg"), std::string_view(".jpeg")}) {
        if (tried.empty())
            continue;
        const std::string name = stem + std::string(tried);
        const auto at = files_.find(name);
        if (at == files_.end())
            continue;
        auto cached = byFile_.try_emplace(name);
        if (cached.second)
            cached.first->second = readSize(at->second);
        if (cached.first->second)
            return cached.first->second;
    }
    return std::nullopt;
}

std::optional<ImageSize> GameImages::sizeOf(std::string_view shader)
{
    if (!places_.empty())
        indexPlaces();
    const std::string name = lower(shader);
    auto cached = byShader_.try_emplace(name);
    if (!cached.second)
        return cached.first->second;
    const auto script = shaders_.find(name);
    std::optional<ImageSize> size;
    if (script != shaders_.end() && !script->second.editorImage.empty())
        size = imageFile(script->second.editorImage);
    if (!size)
        size = imageFile(name);
    if (!size && script != shaders_.end() && !script->second.stageImage.empty())
        size = imageFile(script->second.stageImage);
    return cached.first->second = size;
}

} // namespace bsp2map
