#include "mapwriter.h"

#include <charconv>
#include <cstring>

namespace bsp2map {

MapWriter::MapWriter(std::string &out, const TextSink *sink, ConvertStats &stats,
                     std::string_view open, std::string_view close)
    : out_(out)
    , stats_(stats)
    , sink_(sink)
    , open_(open)
    , close_(close)
{
}

void MapWriter::begin(const MapInfo &info)
{
    info_ = info;
    // The whole text, or a spill and room for a brush or patch beyond it.
    out_.reserve(sink_ ? kSpill + kSpill / 4 : out_.size() + info.textEstimate);
    header();
}

void MapWriter::spill()
{
    if (sink_ && out_.size() >= kSpill) {
        (*sink_)(out_);
        out_.clear();
    }
}

void MapWriter::entity(const MapEntity &entity, const ModelGeometry *geometry)
{
    spill();
    out_ += "// entity ";
    appendNumber(out_, static_cast<long long>(entityNumber_));
    out_ += "\n{\n";
    keys(entity, entityNumber_ == 0);
    if (geometry) {
        std::size_t number = 0;
        brushes(*geometry, number);
        patches(*geometry, number);
    }
    out_ += "}\n";
    ++entityNumber_;
}

void MapWriter::pair(std::string_view key, std::string_view value)
{
    out_ += '"';
    out_ += key;
    out_ += "\" \"";
    out_ += value;
    out_ += "\"\n";
}

void MapWriter::keys(const MapEntity &entity, bool)
{
    for (const KeyValue &kv : entity.pairs) {
        if (entity.modelReplaced && kv.key == "model")
            continue;
        pair(kv.key, kv.value);
    }
}

void MapWriter::brushComment(std::size_t number)
{
    spill();
    outAhead_.ahead(out_.data(), out_.size(), out_.capacity());
    out_ += "// brush ";
    appendNumber(out_, static_cast<long long>(number));
}

char *MapWriter::putPoints(char *at, const MapSide &side)
{
    for (const Vec3 &p : side.points) {
        *at++ = '(';
        *at++ = ' ';
        for (int k = 0; k < 3; ++k) {
            at = numbers_.write(at, p[k]);
            *at++ = ' ';
        }
        *at++ = ')';
        *at++ = ' ';
    }
    return at;
}

char *MapWriter::putFlags(char *at, const MapSide &side) const
{
    if (info_.sideFlags)
        for (const std::int32_t n : {side.contents, side.flags, side.value}) {
            *at++ = ' ';
            at = std::to_chars(at, at + 12, n).ptr;
        }
    *at++ = '\n';
    return at;
}

void MapWriter::counted(bool approximated)
{
    ++stats_.faces;
    stats_.approximatedFaces += approximated;
}

void MapWriter::brushes(const ModelGeometry &geometry, std::size_t &number)
{
    for (const MapBrush &brush : geometry.brushes) {
        brushComment(number++);
        out_ += open_;
        for (std::uint32_t i = 0; i < brush.sideCount; ++i)
            side(geometry, geometry.sides[brush.firstSide + i]);
        out_ += close_;
        ++stats_.brushes;
        stats_.detailBrushes += brush.detail;
    }
}

// A patch: its control points column by column, each as x y z s t.
void MapWriter::patches(const ModelGeometry &geometry, std::size_t &number)
{
    const Vec3 origin = geometry.origin;
    const bool shifted = origin.x != 0 || origin.y != 0 || origin.z != 0;
    for (const MapPatch &patch : geometry.patches) {
        brushComment(number++);
        out_ += "\n{\npatchDef2\n{\n";
        out_ += geometry.textureNames[patch.texture];
        out_ += "\n( ";
        appendNumber(out_, static_cast<long long>(patch.width));
        out_ += ' ';
        appendNumber(out_, static_cast<long long>(patch.height));
        out_ += " 0 0 0 )\n(\n";
        const PatchPoint *points = geometry.patchPoints.data() + patch.firstPoint;
        for (std::int64_t i = 0; i < patch.width; ++i) {
            out_ += "( ";
            for (std::int64_t j = 0; j < patch.height; ++j) {
                const PatchPoint &v = points[j * patch.width + i];
                // A point's numbers go through one buffer, as a side's line does.
                char point[5 * (kMaxNumber + 1) + 8];
                char *at = point;
                *at++ = '(';
                *at++ = ' ';
                for (int k = 0; k < 3; ++k) {
                    at = shifted ? numbers_.write(at, double(v.xyz[k]) + origin[k])
                                 : floatNumbers_.write(at, v.xyz[k]);
                    *at++ = ' ';
                }
                at = floatNumbers_.write(at, v.st[0]);
                *at++ = ' ';
                at = floatNumbers_.write(at, v.st[1]);
                std::memcpy(at, " ) ", 3);
                at += 3;
                out_.append(point, at);
            }
            out_ += ")\n";
        }
        out_ += ")\n}\n}\n";
        ++stats_.patches;
    }
}

} // namespace bsp2map
