#include "entities.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace bsp2map {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

} // namespace

std::string_view Entity::value(std::string_view key) const
{
    for (const KeyValue &pair : pairs) {
        if (pair.key == key)
            return pair.value;
    }
    return {};
}

Result<std::vector<Entity>> parseEntities(std::string_view text)
{
    std::vector<Entity> entities;
    std::size_t at = 0;
    auto skipSpace = [&] {
        while (at < text.size() && isSpace(text[at]))
            ++at;
    };
    auto where = [&] {
        return " (entidade " + std::to_string(entities.size()) + ", byte " + std::to_string(at) +
               ")";
    };
    auto quoted = [&](std::string_view &out) -> Result<void> {
        const std::size_t close = text.find('"', at + 1);
        if (close == std::string_view::npos)
            return fail("texto das entidades: aspas sem fechamento" + where());
        out = text.substr(at + 1, close - at - 1);
        at = close + 1;
        return {};
    };

    for (;;) {
        skipSpace();
        if (at == text.size())
            break;
        if (text[at] != '{')
            return fail("texto das entidades: esperava '{'" + where());
        ++at;
        Entity entity;
        for (;;) {
            skipSpace();
            if (at == text.size())
                return fail("texto das entidades: '{' sem '}'" + where());
            if (text[at] == '}') {
                ++at;
                break;
            }
            if (text[at] != '"')
                return fail("texto das entidades: esperava chave entre aspas ou '}'" + where());
            KeyValue pair;
            if (auto r = quoted(pair.key); !r)
                return r.takeError();
            skipSpace();
            if (at == text.size() || text[at] != '"')
                return fail("texto das entidades: chave sem valor" + where());
            if (auto r = quoted(pair.value); !r)
                return r.takeError();
            entity.pairs.push_back(pair);
        }
        entities.push_back(std::move(entity));
    }
    if (entities.empty())
        return fail("nenhuma entidade: falta o worldspawn");
    return entities;
}

std::vector<std::optional<std::size_t>> modelsOf(const std::vector<Entity> &entities,
                                                 std::size_t modelCount)
{
    std::vector<std::optional<std::size_t>> models(entities.size());
    if (!entities.empty())
        models[0] = 0;
    for (std::size_t e = 1; e < entities.size(); ++e)
        models[e] = brushModelIndex(entities[e].value("model"), modelCount);
    return models;
}

bool writableName(std::string_view name)
{
    return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f || c == '"';
    });
}

std::optional<Vec3> parseOrigin(std::string_view text)
{
    Vec3 v;
    const char *at = text.data();
    const char *end = text.data() + text.size();
    for (int i = 0; i < 3; ++i) {
        while (at < end && (*at == ' ' || *at == '\t'))
            ++at;
        if (at == end)
            break;
        double value = 0;
        auto r = std::from_chars(at, end, value);
        if (r.ec != std::errc())
            return std::nullopt;
        if (!std::isfinite(value))
            return std::nullopt;
        v[i] = value;
        at = r.ptr;
    }
    return v;
}

std::optional<std::size_t> brushModelIndex(std::string_view value, std::size_t modelCount)
{
    if (value.size() < 2 || value[0] != '*')
        return std::nullopt;
    std::size_t n = 0;
    auto r = std::from_chars(value.data() + 1, value.data() + value.size(), n);
    if (r.ec != std::errc() || r.ptr != value.data() + value.size())
        return std::nullopt;
    if (n == 0 || n >= modelCount)
        return std::nullopt;
    return n;
}

} // namespace bsp2map
