// Large Quake maps for the converter's bench, which has no real ones: a Quake III
// BSP's tree, planes and planar surfaces written as a BSP2 file. Its opaque
// leaves are solid, each drawn triangle a face with one texture per shader:
// what the converter's rebuild from a tree works through on a map of that size.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<char>;

template <class T> T at(const Bytes &b, std::size_t offset)
{
    T v{};
    if (offset + sizeof v <= b.size())
        std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

template <class... T> void put(Bytes &b, const T &...values)
{
    (b.insert(b.end(), reinterpret_cast<const char *>(&values),
              reinterpret_cast<const char *>(&values) + sizeof values),
     ...);
}

struct Source {
    const Bytes &b;
    std::int32_t offset(int lump) const { return at<std::int32_t>(b, 8 + lump * 8); }
    std::int32_t count(int lump, int size) const
    {
        return at<std::int32_t>(b, 12 + lump * 8) / size;
    }
    template <class T> T field(int lump, int size, std::int32_t i, int byte) const
    {
        return at<T>(b, std::size_t(offset(lump)) + std::size_t(i) * size + byte);
    }
};

} // namespace

// False when the input is no Quake III BSP.
bool quakeFromQuake3(const fs::path &from, const fs::path &to)
{
    std::ifstream in(from, std::ios::binary);
    const Bytes b((std::istreambuf_iterator<char>(in)), {});
    if (b.size() < 8 + 17 * 8 || std::memcmp(b.data(), "IBSP", 4) != 0)
        return false;
    const Source q3{b};
    Bytes lumps[15];
    // Entities, planes (and a map to find a triangle's), nodes and leaves as they are.
    lumps[0].assign(b.begin() + q3.offset(0), b.begin() + q3.offset(0) + q3.count(0, 1));
    // A plane by its normal and its distance to an eighth of a unit.
    std::map<std::tuple<float, float, float, float>, std::int32_t> planeOf;
    const auto key = [](const float(&n)[3], float d) {
        return std::tuple(n[0], n[1], n[2], std::round(d * 8) / 8);
    };
    std::int32_t planes = q3.count(2, 16);
    for (std::int32_t i = 0; i < planes; ++i) {
        float n[3];
        for (int k = 0; k < 3; ++k)
            n[k] = q3.field<float>(2, 16, i, 4 * k);
        const float d = q3.field<float>(2, 16, i, 12);
        planeOf.try_emplace(key(n, d), i);
        put(lumps[1], n, d, std::int32_t(3));
    }
    for (std::int32_t i = 0; i < q3.count(3, 36); ++i) {
        put(lumps[5], q3.field<std::int32_t>(3, 36, i, 0), q3.field<std::int32_t>(3, 36, i, 4),
            q3.field<std::int32_t>(3, 36, i, 8));
        for (int k = 0; k < 6; ++k)
            put(lumps[5], float(q3.field<std::int32_t>(3, 36, i, 12 + 4 * k)));
        put(lumps[5], std::uint32_t(0), std::uint32_t(0));
    }
    for (std::int32_t i = 0; i < q3.count(4, 48); ++i) {
        put(lumps[10], std::int32_t(q3.field<std::int32_t>(4, 48, i, 0) == -1 ? -2 : -1),
            std::int32_t(-1));
        for (int k = 0; k < 6; ++k)
            put(lumps[10], float(q3.field<std::int32_t>(4, 48, i, 8 + 4 * k)));
        put(lumps[10], std::uint32_t(0), std::uint32_t(0), std::uint32_t(0));
    }
    // A texture and a texinfo per shader.
    const std::int32_t shaders = q3.count(1, 72);
    put(lumps[2], shaders);
    for (std::int32_t i = 0; i < shaders; ++i)
        put(lumps[2], std::int32_t(4 + 4 * shaders + 40 * i));
    for (std::int32_t i = 0; i < shaders; ++i) {
        char name[16] = {};
        std::snprintf(name, sizeof name, "tex%d", int(i));
        put(lumps[2], name, std::uint32_t(64), std::uint32_t(64), std::uint64_t(0),
            std::uint64_t(0));
        const float vecs[2][4] = {{1, 0.5f, 0, 3}, {0, 0.25f, -1, 7}};
        put(lumps[6], vecs, i, std::int32_t(0));
    }
    // Each triangle of a planar surface of the world, on the plane of its normal.
    std::int32_t faces = 0;
    const std::int32_t surfaces = q3.field<std::int32_t>(7, 40, 0, 28);
    for (std::int32_t s = 0; s < surfaces; ++s) {
        if (q3.field<std::int32_t>(13, 104, s, 8) != 1)
            continue;
        const std::int32_t shader = q3.field<std::int32_t>(13, 104, s, 0),
                           firstVert = q3.field<std::int32_t>(13, 104, s, 12),
                           firstIndex = q3.field<std::int32_t>(13, 104, s, 20),
                           indexes = q3.field<std::int32_t>(13, 104, s, 24);
        float n[3];
        for (int k = 0; k < 3; ++k)
            n[k] = q3.field<float>(13, 104, s, 84 + 4 * k);
        for (std::int32_t t = 0; t + 2 < indexes; t += 3) {
            float v[3][3];
            for (int c = 0; c < 3; ++c)
                for (int k = 0; k < 3; ++k)
                    v[c][k] = q3.field<float>(
                        10, 44, firstVert + q3.field<std::int32_t>(11, 4, firstIndex + t + c, 0),
                        4 * k);
            // Surfaces drawn without a lightmap may hold no normal: the triangle's own.
            if (std::abs(n[0] * n[0] + n[1] * n[1] + n[2] * n[2] - 1) > 1e-3) {
                const double a[3] = {v[1][0] - v[0][0], v[1][1] - v[0][1], v[1][2] - v[0][2]},
                             c[3] = {v[2][0] - v[0][0], v[2][1] - v[0][1], v[2][2] - v[0][2]},
                             x[3] = {a[1] * c[2] - a[2] * c[1], a[2] * c[0] - a[0] * c[2],
                                     a[0] * c[1] - a[1] * c[0]};
                const double len = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
                if (len < 1e-6)
                    continue;
                for (int k = 0; k < 3; ++k)
                    n[k] = float(x[k] / len);
            }
            const float d = n[0] * v[0][0] + n[1] * v[0][1] + n[2] * v[0][2];
            const auto [found, added] = planeOf.try_emplace(key(n, d), planes);
            if (added) {
                put(lumps[1], n, d, std::int32_t(3));
                ++planes;
            }
            const auto vertex = std::int32_t(lumps[3].size() / 12);
            put(lumps[3], v);
            for (std::int32_t c = 0; c < 3; ++c) {
                put(lumps[12], std::uint32_t(vertex + c), std::uint32_t(vertex + (c + 1) % 3));
                put(lumps[13], std::int32_t(lumps[12].size() / 8 - 1));
            }
            put(lumps[7], found->second, std::int32_t(0), std::int32_t(3 * faces), std::int32_t(3),
                shader, std::uint32_t(0), std::int32_t(-1));
            ++faces;
        }
    }
    float bounds[6];
    for (int k = 0; k < 6; ++k)
        bounds[k] = q3.field<float>(7, 40, 0, 4 * k);
    put(lumps[14], bounds, float(0), float(0), float(0), std::int32_t(0), std::int32_t(0),
        std::int32_t(0), std::int32_t(0), std::int32_t(0), std::int32_t(0), faces);
    Bytes out = {'B', 'S', 'P', '2'};
    for (std::int32_t k = 0, offset = 4 + 15 * 8; k < 15; offset += std::int32_t(lumps[k++].size()))
        put(out, offset, std::int32_t(lumps[k].size()));
    for (const Bytes &lump : lumps)
        out.insert(out.end(), lump.begin(), lump.end());
    std::ofstream(to, std::ios::binary).write(out.data(), std::streamsize(out.size()));
    return true;
}
