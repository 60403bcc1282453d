// The size of each shader's image, found as the game finds its textures: in
// the pk3s of the game folder (later names in ASCII order win, as the game
// loads them) and its loose textures/ and scripts/ folders. A shader's size is
// its script's qer_editorimage, else an image named like it, else its first
// stage's image. Only the images' headers are read.
#pragma once

#include "pk3.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace bsp2map {

struct ImageSize {
    int width = 0, height = 0;
};

// What a writer asks for a shader's image; nothing when none is found.
class SizeLookup {
public:
    virtual std::optional<ImageSize> sizeOf(std::string_view shader) = 0;

protected:
    ~SizeLookup() = default;
};

// From the first bytes of a TGA, PNG or JPEG file, told by its extension (PNG
// and JPEG by their own marks too); nothing when they hold no sane size. For
// a JPEG `complete` says whether the bytes are the whole file: if not, the
// frame may lie further on.
enum class HeaderRead { Found, Corrupt, NeedMore };
HeaderRead imageSizeOf(std::string_view fileName, std::span<const std::byte> head, bool complete,
                       ImageSize &size);

// The places a game folder gives, in load order: its *.pk3 in ASCII order,
// then the folder itself for its loose files, which win.
std::vector<std::filesystem::path> gamePlaces(const std::filesystem::path &folder);

class GameImages final : public SizeLookup {
public:
    using Warn = std::function<void(const std::string &line)>;
    // The places in load order: a .pk3 file or a folder each, indexed at the
    // first lookup. What cannot be read is warned about and left out.
    GameImages(const std::vector<std::filesystem::path> &places, Warn warn);
    ~GameImages();
    GameImages(const GameImages &) = delete;
    GameImages &operator=(const GameImages &) = delete;

    std::optional<ImageSize> sizeOf(std::string_view shader) override;

private:
    struct Source {
        std::filesystem::path path;
        std::optional<Pk3> pk3; // else a folder
    };
    struct Location {
        std::size_t source;
        std::string name; // as the source spells it
    };
    struct Images {
        std::string editorImage, stageImage;
    };
    void indexPlaces();
    void index(std::size_t source);
    void indexFolder(std::size_t source);
    void readScripts();
    std::optional<ImageSize> imageFile(const std::string &path);
    std::optional<ImageSize> readSize(const Location &at);
    std::string shown(const Location &at) const;

    std::vector<std::filesystem::path> places_; // not indexed yet
    std::vector<Source> sources_;
    std::unordered_map<std::string, Location> files_; // lower case path
    std::unordered_map<std::string, Images> shaders_; // lower case name
    std::unordered_map<std::string, std::optional<ImageSize>> byShader_, byFile_;
    Warn warn_;
};

} // namespace bsp2map
