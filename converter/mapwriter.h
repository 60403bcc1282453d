// Writing the map as .map text in one of the forms. Every form writes the
// entities, their keys and the patches alike; they differ in the lines of the
// brush sides, and in which texture mappings those lines hold exactly:
//
//   form       Default   Matrix         Axes
//   brushDef   exact     exact          approximated (it needs the image's size)
//   classic    exact     approximated   exact when they are the base axes
//                                       rotated and scaled, else approximated
//   valve      exact     exact with     exact
//                        the image's size
//
// An approximated side gets the nearest the form has, or its default, and is
// counted in the stats.
#pragma once

#include "convert.h"
#include "formats.h"
#include "mapdata.h"
#include "numbers.h"
#include "prefault.h"

#include <memory>
#include <string>

namespace bsp2map {

class MapWriter : public MapSink {
public:
    // The text is appended to `out`; with a sink, `out` is handed over
    // whenever it holds a good piece, and reused.
    // Valve 220 asks `sizes` for the images' sizes.
    static std::unique_ptr<MapWriter> make(MapForm form, std::string &out, const TextSink *sink,
                                           ConvertStats &stats, SizeLookup *sizes = nullptr);
    // A brush's lines go between `open` and `close`.
    MapWriter(std::string &out, const TextSink *sink, ConvertStats &stats, std::string_view open,
              std::string_view close);
    virtual ~MapWriter() = default;

    // Whether its lines carry mappings of that kind at all: a reader need not
    // find those it does not.
    virtual bool carries(MappingKind kind) const = 0;

    void begin(const MapInfo &info) override;
    void entity(const MapEntity &entity, const ModelGeometry *geometry) override;

protected:
    // What comes before the first entity.
    virtual void header() {}
    virtual void keys(const MapEntity &entity, bool world);
    // One side's line.
    virtual void side(const ModelGeometry &geometry, const MapSide &side) = 0;

    void pair(std::string_view key, std::string_view value);
    // "( x y z ) " for each point; returns the end.
    char *putPoints(char *at, const MapSide &side);
    // " contents flags value\n", or the newline alone where sides have none.
    char *putFlags(char *at, const MapSide &side) const;
    char *putNumber(char *at, double value) { return numbers_.write(at, value); }
    // Counts a side written, and whether its mapping had to be approximated.
    void counted(bool approximated);

    std::string &out_;
    MapInfo info_;
    ConvertStats &stats_;

private:
    void spill();
    // "// brush N", once the text has room for it.
    void brushComment(std::size_t number);
    void brushes(const ModelGeometry &geometry, std::size_t &number);
    void patches(const ModelGeometry &geometry, std::size_t &number);

    // With a sink, out_ is handed over whenever it holds kSpill, and reused:
    // its pages are made once and stay in the cache for the copy out.
    static constexpr std::size_t kSpill = 256 * 1024;
    const TextSink *sink_;
    std::string_view open_, close_;
    std::size_t entityNumber_ = 0;
    NumberCache<double> numbers_;
    NumberCache<float> floatNumbers_; // a patch's own coordinates
    Prefault outAhead_;
};

} // namespace bsp2map
