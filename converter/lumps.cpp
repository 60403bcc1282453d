#include "lumps.h"

#include <algorithm>
#include <climits>
#include <string>

namespace bsp2map {

std::int32_t int32At(std::span<const std::byte> data, std::size_t offset)
{
    std::int32_t value;
    std::memcpy(&value, data.data() + offset, 4);
    return value;
}

Result<LumpTable> LumpTable::read(std::span<const std::byte> data, int lumpCount, Namer name,
                                  int tableAt)
{
    // Offsets are 32-bit: no part of a bigger file could belong to the map.
    if (data.size() > static_cast<std::size_t>(INT32_MAX))
        return fail("arquivo grande demais para um BSP (" + std::to_string(data.size() >> 20) +
                    " MiB; o formato só alcança 2 GiB)");
    const std::size_t header = static_cast<std::size_t>(tableAt + lumpCount * 8);
    if (data.size() < header)
        return fail("o arquivo termina antes do fim do cabeçalho (truncado): tem " +
                    std::to_string(data.size()) + " de " + std::to_string(header) + " bytes");
    return LumpTable(data, lumpCount, name, tableAt);
}

std::int64_t LumpTable::smallestOffset() const
{
    std::int64_t smallest = INT64_MAX;
    for (int i = 0; i < count_; ++i)
        if (int32At(data_, table_ + 4 + i * 8) > 0)
            smallest = std::min<std::int64_t>(smallest, int32At(data_, table_ + i * 8));
    return smallest;
}

Result<std::span<const std::byte>> LumpTable::bytes(int index, std::size_t recordSize) const
{
    const std::int64_t offset = int32At(data_, table_ + index * 8),
                       length = int32At(data_, table_ + 4 + index * 8);
    const std::string name = std::string("lump de ") + name_(index);
    if (offset < 0 || length < 0)
        return fail(name + ": posição ou tamanho negativo");
    if (offset + length > INT32_MAX)
        return fail(name + ": termina além de 2 GiB, o limite do formato (" +
                    std::to_string(offset) + " + " + std::to_string(length) + ")");
    if (offset + length > static_cast<std::int64_t>(data_.size())) {
        // Said as the size the header promises: where its furthest lump ends.
        std::int64_t end = 0;
        const int listed = table_ + promised_ * 8 <= static_cast<int>(data_.size()) ? promised_ : count_;
        for (int i = 0; i < listed; ++i) {
            const std::int64_t o = int32At(data_, table_ + i * 8), l = int32At(data_, table_ + 4 + i * 8);
            if (o >= 0 && l >= 0)
                end = std::max(end, o + l);
        }
        return fail("o arquivo termina antes do fim (truncado): tem " +
                    std::to_string(data_.size()) + " bytes, e o cabeçalho indica " +
                    std::to_string(end));
    }
    if (length % static_cast<std::int64_t>(recordSize) != 0)
        return fail(name + ": tamanho " + std::to_string(length) + " não é múltiplo de " +
                    std::to_string(recordSize));
    return data_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

Result<std::string_view> LumpTable::text(int index) const
{
    auto found = bytes(index, 1);
    if (!found)
        return found.takeError();
    const char *first = reinterpret_cast<const char *>(found->data());
    const char *nul = std::find(first, first + found->size(), '\0');
    return std::string_view(first, static_cast<std::size_t>(nul - first));
}

} // namespace bsp2map
