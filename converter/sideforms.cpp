// The three forms of a brush side's line; see mapwriter.h for which mapping
// each writes exactly.
#include "mapwriter.h"

#include "texaxes.h"
#include "texture.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace bsp2map {
namespace {

// The numbers of a line go through one buffer, and into the output with one copy.
constexpr std::size_t kLine = 24 * (kMaxNumber + 8);

char *put(char *at, std::string_view text)
{
    std::memcpy(at, text.data(), text.size());
    return at + text.size();
}

// brushDef { ( p ) ( p ) ( p ) ( ( xx xy x0 ) ( yx yy y0 ) ) texture contents flags value }
class BrushDefWriter final : public MapWriter {
public:
    BrushDefWriter(std::string &out, const TextSink *sink, ConvertStats &stats)
        : MapWriter(out, sink, stats, "\n{\nbrushDef\n{\n", "}\n}\n")
    {
    }
    bool carries(MappingKind kind) const override { return kind != MappingKind::Axes; }

private:
    void side(const ModelGeometry &geometry, const MapSide &side) override
    {
        char line[kLine];
        char *at = putPoints(line, side);
        const bool matrix = side.mapping.kind == MappingKind::Matrix;
        // Texel axes would need the image's size in texels.
        const TexMatrix tex = matrix ? geometry.matrices[side.mapping.index] : defaultTexMatrix();
        at = put(at, "( ( ");
        for (int row = 0; row < 2; ++row) {
            if (row == 1)
                at = put(at, " ) ( ");
            for (int col = 0; col < 3; ++col) {
                if (col > 0)
                    *at++ = ' ';
                at = putNumber(at, tex.m[row][col]);
            }
        }
        at = put(at, " ) ) ");
        out_.append(line, at);
        out_ += geometry.textureNames[side.texture];
        out_.append(line, putFlags(line, side));
        counted(side.mapping.kind == MappingKind::Axes);
    }
};

// { ( p ) ( p ) ( p ) texture xshift yshift rotation xscale yscale [contents flags value] }
class ClassicWriter final : public MapWriter {
public:
    ClassicWriter(std::string &out, const TextSink *sink, ConvertStats &stats)
        : MapWriter(out, sink, stats, "\n{\n", "}\n")
    {
    }
    bool carries(MappingKind kind) const override { return kind != MappingKind::Matrix; }

private:
    void header() override
    {
        defaultLine_ = numbersOf({{0, 0}, 0, {info_.defaultScale, info_.defaultScale}});
    }

    void side(const ModelGeometry &geometry, const MapSide &side) override
    {
        char line[kLine];
        out_.append(line, putPoints(line, side));
        out_ += geometry.textureNames[side.texture];
        bool exact = side.mapping.kind == MappingKind::Default;
        // Most sides have the default: its numbers are written once a map.
        std::string_view numbers = defaultLine_;
        if (side.mapping.kind != MappingKind::Default) {
            ClassicTexture tex{{0, 0}, 0, {info_.defaultScale, info_.defaultScale}};
            if (side.mapping.kind == MappingKind::Axes)
                exact = classicFromAxes(side.plane, geometry.axes[side.mapping.index], tex);
            sideLine_ = numbersOf(tex); // kept alive past this block: numbers points into it
            numbers = sideLine_;
        }
        char *at = std::copy(numbers.begin(), numbers.end(), line);
        out_.append(line, putFlags(at, side));
        counted(!exact);
    }

    // " xshift yshift rotation xscale yscale"
    std::string numbersOf(const ClassicTexture &tex)
    {
        char line[kLine];
        char *at = line;
        for (const double n :
             {tex.shift[0], tex.shift[1], tex.rotation, tex.scale[0], tex.scale[1]}) {
            *at++ = ' ';
            at = putNumber(at, n);
        }
        return std::string(line, at);
    }

    std::string defaultLine_, sideLine_;
};

// Valve 220: ( p ) ( p ) ( p ) texture [ ux uy uz uoffset ] [ vx vy vz voffset ] rotation uscale
// vscale
class ValveWriter final : public MapWriter {
public:
    ValveWriter(std::string &out, const TextSink *sink, ConvertStats &stats, SizeLookup *sizes)
        : MapWriter(out, sink, stats, "\n{\n", "}\n")
        , sizes_(sizes)
    {
    }
    bool carries(MappingKind) const override { return true; }

private:
    void header() override
    {
        out_ += "// Game: ";
        out_ += info_.game;
        out_ += "\n// Format: ";
        out_ += info_.valveFormat;
        out_ += '\n';
    }

    // The world says which form its brushes are in; every other key stays.
    void keys(const MapEntity &entity, bool world) override
    {
        constexpr std::string_view version = "mapversion";
        if (!world)
            return MapWriter::keys(entity, world);
        if (std::none_of(entity.pairs.begin(), entity.pairs.end(),
                         [&](const KeyValue &kv) { return kv.key == version; }))
            pair(version, "220");
        for (const KeyValue &kv : entity.pairs)
            pair(kv.key, kv.key == version ? "220" : kv.value);
    }

    void side(const ModelGeometry &geometry, const MapSide &side) override
    {
        ValveTexture tex;
        bool exact = side.mapping.kind == MappingKind::Default;
        if (side.mapping.kind == MappingKind::Axes)
            exact = valveFromAxes(geometry.axes[side.mapping.index], tex);
        else if (side.mapping.kind == MappingKind::Matrix)
            exact = valveFromMatrix(side.plane.normal, geometry.matrices[side.mapping.index],
                                    imageSize(geometry.textureNames[side.texture]), tex);
        if (side.mapping.kind == MappingKind::Default || !exact) {
            // The editor's default: the classic base axes, unturned.
            classicBase(side.plane.normal, tex.axis[0], tex.axis[1]);
            tex.offset[0] = tex.offset[1] = 0;
            tex.scale[0] = tex.scale[1] = info_.defaultScale;
        }
        char line[kLine];
        out_.append(line, putPoints(line, side));
        out_ += geometry.textureNames[side.texture];
        char *at = line;
        for (int r = 0; r < 2; ++r) {
            at = put(at, " [ ");
            for (int k = 0; k < 3; ++k) {
                at = putNumber(at, tex.axis[r][k]);
                *at++ = ' ';
            }
            at = putNumber(at, tex.offset[r]);
            at = put(at, " ]");
        }
        at = put(at, " 0 ");
        at = putNumber(at, tex.scale[0]);
        *at++ = ' ';
        at = putNumber(at, tex.scale[1]);
        out_.append(line, putFlags(at, side));
        counted(!exact);
    }

    // Under textures/, as the compiler reads the name written, else as the
    // BSP had it when that was elsewhere. Not found, 64 x 64, as the compiler takes it.
    ImageSize imageSize(std::string_view written)
    {
        auto [at, added] = sizesByName_.try_emplace(written);
        if (added) {
            std::optional<ImageSize> size;
            if (sizes_ && !(size = sizes_->sizeOf("textures/" + std::string(written))))
                size = sizes_->sizeOf(written);
            at->second = {size.value_or(ImageSize{64, 64}), !size};
        }
        if (at->second.second) {
            ++stats_.assumedSizeFaces;
            auto &names = stats_.assumedSizeShaders;
            if (names.size() < 3 && std::find(names.begin(), names.end(), written) == names.end())
                names.emplace_back(written);
        }
        return at->second.first;
    }

    SizeLookup *sizes_;
    // The size and whether it was assumed, by the name written.
    std::unordered_map<std::string_view, std::pair<ImageSize, bool>> sizesByName_;
};

} // namespace

std::unique_ptr<MapWriter> MapWriter::make(MapForm form, std::string &out, const TextSink *sink,
                                           ConvertStats &stats, SizeLookup *sizes)
{
    switch (form) {
    case MapForm::Classic:
        return std::make_unique<ClassicWriter>(out, sink, stats);
    case MapForm::Valve:
        return std::make_unique<ValveWriter>(out, sink, stats, sizes);
    case MapForm::BrushDef:
        break;
    }
    return std::make_unique<BrushDefWriter>(out, sink, stats);
}

} // namespace bsp2map
