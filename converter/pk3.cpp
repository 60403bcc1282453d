#include "pk3.h"

#include <cstdint>
#include <zip.h>

namespace bsp2map {

struct Pk3::Archive {
    zip_t *zip = nullptr;
    ~Archive()
    {
        if (zip)
            zip_discard(zip);
    }
};

Pk3::~Pk3() = default;
Pk3::Pk3(Pk3 &&) noexcept = default;
Pk3 &Pk3::operator=(Pk3 &&) noexcept = default;

namespace {

bool endsWithBsp(const std::string &name)
{
    if (name.size() < 4)
        return false;
    const std::string tail = name.substr(name.size() - 4);
    return (tail[0] == '.') && (tail[1] | 0x20) == 'b' && (tail[2] | 0x20) == 's' &&
           (tail[3] | 0x20) == 'p';
}

bool inMapsFolder(const std::string &name)
{
    if (name.size() < 5)
        return false;
    const bool maps = (name[0] | 0x20) == 'm' && (name[1] | 0x20) == 'a' &&
                      (name[2] | 0x20) == 'p' && (name[3] | 0x20) == 's' && name[4] == '/';
    return maps && name.find('/', 5) == std::string::npos;
}

} // namespace

Result<Pk3> Pk3::open(const std::filesystem::path &path)
{
    int error = 0;
    zip_t *zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!zip) {
        if (error == ZIP_ER_NOZIP || error == ZIP_ER_INCONS)
            return fail("não é um arquivo pk3 (zip) válido");
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        std::string reason = std::string("não foi possível abrir o pk3: ") + zip_error_strerror(&ze);
        zip_error_fini(&ze);
        return fail(reason);
    }
    Pk3 pk3;
    pk3.archive_ = std::make_unique<Archive>();
    pk3.archive_->zip = zip;
    return pk3;
}

std::vector<std::string> Pk3::mapEntries() const
{
    std::vector<std::string> names;
    const zip_int64_t count = zip_get_num_entries(archive_->zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *name = zip_get_name(archive_->zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (!name)
            continue;
        std::string entry(name);
        if (inMapsFolder(entry) && endsWithBsp(entry))
            names.push_back(std::move(entry));
    }
    return names;
}

Result<std::string> Pk3::findEntry(const std::string &name) const
{
    zip_int64_t index = zip_name_locate(archive_->zip, name.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0)
        index = zip_name_locate(archive_->zip, name.c_str(), ZIP_FL_ENC_RAW | ZIP_FL_NOCASE);
    if (index < 0)
        return fail("não existe no pk3");
    const char *found = zip_get_name(archive_->zip, static_cast<zip_uint64_t>(index), ZIP_FL_ENC_RAW);
    if (!found)
        return fail("não existe no pk3");
    return std::string(found);
}

Result<std::vector<std::byte>> Pk3::read(const std::string &entry) const
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(archive_->zip, entry.c_str(), ZIP_FL_ENC_RAW, &st) != 0 ||
        !(st.valid & ZIP_STAT_SIZE))
        return fail("não existe no pk3");
    // Lump offsets are 32-bit: nothing past 2 GiB can be part of a map.
    if (st.size > INT32_MAX)
        return fail("entrada grande demais para um BSP");
    zip_file_t *file = zip_fopen(archive_->zip, entry.c_str(), ZIP_FL_ENC_RAW);
    if (!file)
        return fail(std::string("não foi possível ler do pk3: ") + zip_strerror(archive_->zip));
    std::vector<std::byte> bytes(static_cast<std::size_t>(st.size));
    const zip_int64_t n = zip_fread(file, bytes.data(), bytes.size());
    std::string reason;
    if (n < 0 || static_cast<zip_uint64_t>(n) != st.size)
        reason = std::string("pk3 danificado: ") + zip_file_strerror(file);
    zip_fclose(file);
    if (!reason.empty())
        return fail(reason);
    return bytes;
}

} // namespace bsp2map
