#include "formats.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace bsp2map {
namespace {

std::int32_t int32At(std::span<const std::byte> data, std::size_t offset)
{
    std::int32_t value;
    std::memcpy(&value, data.data() + offset, 4);
    return value;
}

// What a file that no reader takes is, as far as its first bytes tell.
std::string unsupportedKind(std::span<const std::byte> data)
{
    if (data.size() < 4)
        return "não é um arquivo BSP";
    const std::string_view magic(reinterpret_cast<const char *>(data.data()), 4);
    const std::int32_t first = int32At(data, 0);
    const bool hasVersion = data.size() >= 8;
    const std::int32_t version = hasVersion ? int32At(data, 4) : 0;
    if (first == 29)
        return "formato não suportado: BSP do Quake (versão 29)";
    if (first == 30)
        return "formato não suportado: BSP do Half-Life (versão 30)";
    if (magic == "IBSP" && hasVersion && version == 38)
        return "formato não suportado: BSP do Quake 2 (IBSP 38)";
    if (magic == "IBSP")
        return hasVersion ? "formato não suportado: IBSP versão " + std::to_string(version)
                          : "formato não suportado: IBSP sem versão";
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
    }
    return MapForm::BrushDef;
}

// Quake III's matrices become Valve 220's texel axes with each image's size.
Result<void> accepts(Family, MapForm)
{
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
    }
    return fail(unsupportedKind(data));
}

} // namespace bsp2map
