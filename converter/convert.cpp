#include "convert.h"

#include "mapwriter.h"
#include "q1read.h"
#include "q2read.h"
#include "q3read.h"

#include <memory>

namespace bsp2map {
namespace {

Result<ConvertStats> convert(std::span<const std::byte> data, const ConvertOptions &options,
                             std::string &mapText, const TextSink *sink, const ProgressFn &progress)
{
    auto family = identify(data);
    if (!family)
        return family.takeError();
    const MapForm form = options.form.value_or(defaultForm(*family));
    if (auto accepted = accepts(*family, form); !accepted)
        return accepted.takeError();
    ConvertStats stats;
    const std::unique_ptr<MapWriter> writer = MapWriter::make(form, mapText, sink, stats, options.sizes);
    ReadOptions read;
    read.fitTextures = writer->carries(MappingKind::Matrix);
    Result<void> done = fail({});
    switch (*family) {
    case Family::Quake3:
        done = readQuake3(data, read, *writer, stats, progress);
        break;
    case Family::Quake2:
        done = readQuake2(data, *writer, stats, progress);
        break;
    case Family::Quake1:
        done = readQuake1(data, *writer, stats, progress);
        break;
    }
    if (!done)
        return done.takeError();
    if (progress && read.fitTextures && *family == Family::Quake3)
        progress(std::to_string(stats.faces) + " faces, " + std::to_string(stats.texturedFaces) +
                 " com o alinhamento de textura tirado dos triângulos do BSP, " +
                 std::to_string(stats.inheritedFaces) +
                 " com o de uma face vizinha no mesmo plano");
    return stats;
}

} // namespace

Result<ConvertStats> convertBsp(std::span<const std::byte> data, const ConvertOptions &options,
                                std::string &mapText, const ProgressFn &progress)
{
    return convert(data, options, mapText, nullptr, progress);
}

Result<ConvertStats> convertBsp(std::span<const std::byte> data, const ConvertOptions &options,
                                const TextSink &sink, const ProgressFn &progress)
{
    std::string text;
    auto stats = convert(data, options, text, &sink, progress);
    if (stats && !text.empty())
        sink(text);
    return stats;
}

} // namespace bsp2map
