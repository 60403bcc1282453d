#include "formats.h"

#include "lumps.h"
#include "q1bsp.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace bsp2map {
namespace {

// SiN and Jedi Knight both say RBSP 1: SiN keeps Quake 2's layout in 20 lumps,
// Jedi Knight Quake III's in 18. The first lump starts right after the header.
std::string ravenKind(std::span<const std::byte> data)
{
    std::int64_t smallest = INT64_MAX;
    for (std::size_t at = 8; at + 8 <= data.size() && at + 8 <= 8 + 20 * 8; at += 8)
        if (int32At(data, at + 4) > 0 && int32At(data, at) >= 0)
            smallest = std::min<std::int64_t>(smallest, int32At(data, at));
    if (smallest == 8 + 20 * 8)
        return "BSP do SiN (RBSP 1)";
    if (smallest == 8 + 18 * 8)
        return "BSP do Jedi Knight (RBSP 1)";
    return "BSP da Raven (RBSP 1)";
}

// What a file that no reader takes is, as far as its first bytes tell.
std::string unsupportedKind(std::span<const std::byte> data)
{
    if (data.size() < 4)
        return "não é um arquivo BSP";
    const std::string_view magic(reinterpret_cast<const char *>(data.data()), 4);
    const bool hasVersion = data.size() >= 8;
    const std::int32_t version = hasVersion ? int32At(data, 4) : 0;
    if (magic == "QBSP" && hasVersion && version == 38)
        return "formato não suportado: BSP do Quake 2 remasterizado (QBSP 38)";
    if (magic == "IBSP")
        return hasVersion ? "formato não suportado: IBSP versão " + std::to_string(version)
                          : "formato não suportado: IBSP sem versão";
    if (magic == "RBSP" && hasVersion && version == 1)
        return "formato não suportado: " + ravenKind(data);
    if (magic == "RBSP")
        return "formato não suportado: BSP da Raven (RBSP)";
    if (magic == "VBSP")
        return "formato não suportado: BSP do Source (VBSP)";
    if (magic == "FBSP")
        return "formato não suportado: FBSP";
    if (magic == std::string_view("PK\x03\x04", 4))
        return "formato não suportado: arquivo zip (use a extensão .pk3)";
    return "não é um arquivo BSP";
}

} // namespace

std::optional<MapForm> formNamed(std::string_view name)
{
    if (name == "brushdef")
        return MapForm::BrushDef;
    if (name == "classic")
        return MapForm::Classic;
    if (name == "valve")
        return MapForm::Valve;
    return std::nullopt;
}

MapForm defaultForm(Family family)
{
    switch (family) {
    case Family::Quake3:
        return MapForm::BrushDef;
    case Family::Quake2:
    case Family::Quake1:
        return MapForm::Valve;
    }
    return MapForm::BrushDef;
}

// Quake III's matrices become Valve 220's texel axes with each image's size.
Result<void> accepts(Family family, MapForm form)
{
    // The other way round there are no sizes: brush primitives count in repeats,
    // Quake 2's texinfo in texels.
    if (family == Family::Quake2 && form == MapForm::BrushDef)
        return fail("o formato brushdef não serve para BSP do Quake 2 (o alinhamento das "
                    "texturas precisaria do tamanho de cada imagem .wal); use valve ou classic");
    if (family == Family::Quake1 && form == MapForm::BrushDef)
        return fail("o formato brushdef não serve para BSP do Quake ou do Half-Life (os editores "
                    "desses jogos abrem valve ou classic); use valve ou classic");
    return {};
}

Result<Family> identify(std::span<const std::byte> data)
{
    if (data.empty())
        return fail("arquivo vazio");
    if (data.size() >= 8 && std::memcmp(data.data(), "IBSP", 4) == 0) {
        const std::int32_t version = int32At(data, 4);
        if (version == 46 || version == 47)
            return Family::Quake3;
        if (version == 38)
            return Family::Quake2;
    }
    if (isQ1Bsp(data))
        return Family::Quake1;
    return fail(unsupportedKind(data));
}

} // namespace bsp2map
