#include "pk3.h"

#include "files.h"

#include <cerrno>
#include <cstdint>
#include <dlfcn.h>
#include <zip.h>

namespace bsp2map {

namespace {

// libzip and what it pulls in (libcrypto among others) cost every start of
// bspc.exe a millisecond of loading; only a .pk3 needs it, so it is loaded then.
struct Zip {
    decltype(&::zip_open) open;
    decltype(&::zip_discard) discard;
    decltype(&::zip_error_init_with_code) errorInitWithCode;
    decltype(&::zip_error_strerror) errorStrerror;
    decltype(&::zip_error_fini) errorFini;
    decltype(&::zip_error_code_zip) errorCodeZip;
    decltype(&::zip_error_code_system) errorCodeSystem;
    decltype(&::zip_get_error) getError;
    decltype(&::zip_file_get_error) fileGetError;
    decltype(&::zip_get_num_entries) getNumEntries;
    decltype(&::zip_get_name) getName;
    decltype(&::zip_name_locate) nameLocate;
    decltype(&::zip_stat_init) statInit;
    decltype(&::zip_stat) stat;
    decltype(&::zip_fopen) fopen;
    decltype(&::zip_fread) fread;
    decltype(&::zip_fclose) fclose;
};

template <class Fn> bool resolve(void *library, const char *name, Fn &fn)
{
    fn = reinterpret_cast<Fn>(::dlsym(library, name));
    return fn != nullptr;
}

// Loaded once, never unloaded; null with the reason when it cannot be.
const Zip *zipLibrary(std::string &reason)
{
    static Zip zip;
    static std::string failure;
    static const bool loaded = [] {
        void *library = ::dlopen("libzip.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char *why = ::dlerror();
            failure =
                std::string("a biblioteca libzip (libzip.so.4) não pôde ser carregada; instale o "
                            "pacote libzip4 para ler arquivos pk3") +
                (why ? std::string(" (") + why + ")" : std::string());
            return false;
        }
        const bool all =
            resolve(library, "zip_open", zip.open) &&
            resolve(library, "zip_discard", zip.discard) &&
            resolve(library, "zip_error_init_with_code", zip.errorInitWithCode) &&
            resolve(library, "zip_error_strerror", zip.errorStrerror) &&
            resolve(library, "zip_error_fini", zip.errorFini) &&
            resolve(library, "zip_error_code_zip", zip.errorCodeZip) &&
            resolve(library, "zip_error_code_system", zip.errorCodeSystem) &&
            resolve(library, "zip_get_error", zip.getError) &&
            resolve(library, "zip_file_get_error", zip.fileGetError) &&
            resolve(library, "zip_get_num_entries", zip.getNumEntries) &&
            resolve(library, "zip_get_name", zip.getName) &&
            resolve(library, "zip_name_locate", zip.nameLocate) &&
            resolve(library, "zip_stat_init", zip.statInit) &&
            resolve(library, "zip_stat", zip.stat) && resolve(library, "zip_fopen", zip.fopen) &&
            resolve(library, "zip_fread", zip.fread) && resolve(library, "zip_fclose", zip.fclose);
        if (!all) {
            failure =
                "a biblioteca libzip (libzip.so.4) instalada não tem todas as funções esperadas";
            return false;
        }
        return true;
    }();
    if (!loaded) {
        reason = failure;
        return nullptr;
    }
    return &zip;
}

// What went wrong in libzip, said for the user; `entry` is empty for the
// archive as a whole. Its own English text only ever follows ours.
std::string zipText(const Zip &lib, int code, int system, const std::string &entry)
{
    const auto damaged = [&](const char *why) {
        return "pk3 danificado" + (entry.empty() ? std::string() : ": " + entry) + " (" + why + ")";
    };
    switch (code) {
    case ZIP_ER_NOZIP:
        if (entry.empty())
            return "não é um arquivo pk3 (zip) válido, ou está incompleto";
        return damaged("o cabeçalho da entrada não confere com o índice");
    case ZIP_ER_INCONS:
    case ZIP_ER_INVAL:
        return damaged("o índice do zip não confere com o conteúdo");
    case ZIP_ER_CRC:
        return damaged("os dados não conferem com o CRC-32 gravado");
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return damaged("dados compactados inválidos");
    case ZIP_ER_EOF:
        return damaged("o arquivo termina antes do fim da entrada");
    case ZIP_ER_MULTIDISK:
        return "pk3 dividido em vários volumes não é suportado";
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        return "a entrada é cifrada e pede uma senha";
    case ZIP_ER_ENCRNOTSUPP:
        return "a entrada é cifrada por um método não suportado";
    case ZIP_ER_COMPNOTSUPP:
        return "a entrada usa um método de compressão não suportado";
    case ZIP_ER_MEMORY:
        return "memória insuficiente";
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
        return "erro ao ler o pk3" + (system > 0 ? ": " + errnoText(system) : std::string());
    }
    zip_error_t error;
    lib.errorInitWithCode(&error, code);
    std::string text =
        "erro da biblioteca zip " + std::to_string(code) + " (" + lib.errorStrerror(&error) + ")";
    lib.errorFini(&error);
    return text;
}

std::string zipText(const Zip &lib, zip_error_t *error, const std::string &entry)
{
    return zipText(lib, lib.errorCodeZip(error), lib.errorCodeSystem(error), entry);
}

} // namespace

struct Pk3::Archive {
    const Zip *lib = nullptr;
    zip_t *zip = nullptr;
    ~Archive()
    {
        if (zip)
            lib->discard(zip);
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
    std::string missing;
    const Zip *lib = zipLibrary(missing);
    if (!lib)
        return fail(missing);
    int error = 0;
    errno = 0;
    zip_t *zip = lib->open(path.c_str(), ZIP_RDONLY, &error);
    // Only the code comes back; errno still holds the system's reason, if any.
    if (!zip)
        return fail(zipText(*lib, error, errno, {}));
    Pk3 pk3;
    pk3.archive_ = std::make_unique<Archive>();
    pk3.archive_->lib = lib;
    pk3.archive_->zip = zip;
    return pk3;
}

std::vector<std::string> Pk3::mapEntries() const
{
    const Zip &lib = *archive_->lib;
    std::vector<std::string> names;
    const zip_int64_t count = lib.getNumEntries(archive_->zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *name = lib.getName(archive_->zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
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
    const Zip &lib = *archive_->lib;
    zip_int64_t index = lib.nameLocate(archive_->zip, name.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0)
        index = lib.nameLocate(archive_->zip, name.c_str(), ZIP_FL_ENC_RAW | ZIP_FL_NOCASE);
    if (index < 0)
        return fail("não existe no pk3");
    const char *found =
        lib.getName(archive_->zip, static_cast<zip_uint64_t>(index), ZIP_FL_ENC_RAW);
    if (!found)
        return fail("não existe no pk3");
    return std::string(found);
}

Result<std::vector<std::byte>> Pk3::read(const std::string &entry) const
{
    const Zip &lib = *archive_->lib;
    zip_stat_t st;
    lib.statInit(&st);
    if (lib.stat(archive_->zip, entry.c_str(), ZIP_FL_ENC_RAW, &st) != 0 ||
        !(st.valid & ZIP_STAT_SIZE))
        return fail("não existe no pk3");
    // Lump offsets are 32-bit: nothing past 2 GiB can be part of a map.
    if (st.size > INT32_MAX)
        return fail("entrada grande demais para um BSP");
    zip_file_t *file = lib.fopen(archive_->zip, entry.c_str(), ZIP_FL_ENC_RAW);
    if (!file)
        return fail(zipText(lib, lib.getError(archive_->zip), entry));
    std::vector<std::byte> bytes(static_cast<std::size_t>(st.size));
    zip_int64_t n = lib.fread(file, bytes.data(), bytes.size());
    // libzip checks the CRC-32 only once a read finds the end: one byte more must find it.
    std::byte beyond;
    const bool whole =
        n >= 0 && zip_uint64_t(n) == st.size && (n = lib.fread(file, &beyond, 1)) == 0;
    std::string reason;
    if (!whole)
        reason = n < 0 ? zipText(lib, lib.fileGetError(file), entry)
                       : "pk3 danificado: " + entry + " (o tamanho não confere com o índice)";
    lib.fclose(file);
    if (!reason.empty())
        return fail(reason);
    return bytes;
}

std::vector<std::string> Pk3::entries() const
{
    const Zip &lib = *archive_->lib;
    std::vector<std::string> names;
    const zip_int64_t count = lib.getNumEntries(archive_->zip, 0);
    for (zip_int64_t i = 0; i < count; ++i)
        if (const char *name =
                lib.getName(archive_->zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW))
            names.emplace_back(name);
    return names;
}

Result<std::vector<std::byte>> Pk3::readHead(const std::string &entry, std::size_t limit) const
{
    const Zip &lib = *archive_->lib;
    zip_file_t *file = lib.fopen(archive_->zip, entry.c_str(), ZIP_FL_ENC_RAW);
    if (!file)
        return fail(zipText(lib, lib.getError(archive_->zip), entry));
    std::vector<std::byte> bytes(limit);
    const zip_int64_t n = lib.fread(file, bytes.data(), bytes.size());
    std::string reason;
    if (n < 0)
        reason = zipText(lib, lib.fileGetError(file), entry);
    lib.fclose(file);
    if (!reason.empty())
        return fail(reason);
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
}

} // namespace bsp2map
