// The three forms of a brush side's line; see mapwriter.h for which mapping
// each writes exactly.
#include "mapwriter.h"

#include "texaxes.h"
#include "texture.h"

#include <algorithm>
#include <cstring>

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
            ownLine_ = numbersOf(tex);
            numbers = ownLine_;
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

    std::string defaultLine_, ownLine_;
};

// Valve 220: ( p ) ( p ) ( p ) texture [ ux uy uz uoffset ] [ vx vy vz voffset ] rotation uscale
// vscale
class ValveWriter final : public MapWriter {
public:
    ValveWriter(std::string &out, const TextSink *sink, ConvertStats &stats)
        : MapWriter(out, sink, stats, "\n{\n", "}\n")
    {
    }
    bool carries(MappingKind kind) const override { return kind != MappingKind::Matrix; }

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
        const bool exact = side.mapping.kind == MappingKind::Axes
                               ? valveFromAxes(geometry.axes[side.mapping.index], tex)
                               : side.mapping.kind == MappingKind::Default;
        if (side.mapping.kind != MappingKind::Axes || !exact) {
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
};

} // namespace

std::unique_ptr<MapWriter> MapWriter::make(MapForm form, std::string &out, const TextSink *sink,
                                           ConvertStats &stats)
{
    switch (form) {
    case MapForm::Classic:
        return std::make_unique<ClassicWriter>(out, sink, stats);
    case MapForm::Valve:
        return std::make_unique<ValveWriter>(out, sink, stats);
    case MapForm::BrushDef:
        break;
    }
    return std::make_unique<BrushDefWriter>(out, sink, stats);
}

} // namespace bsp2map
