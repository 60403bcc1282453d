// bspc.exe: the command line that Vostrand starts.
//   bspc.exe -bsp2map <file> -output <folder> [-format brushdef|classic|valve]
// Exit 0 when every .map was written whole, 1 for an input or output error,
// 2 for a wrong command line.

#include "convert.h"
#include "files.h"
#include "imagesizes.h"
#include "pk3.h"
#include "plan.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#ifndef BSPC_VERSION
#define BSPC_VERSION "0"
#endif

namespace fs = std::filesystem;
using namespace bsp2map;

namespace {

constexpr const char *kUsage =
    "uso: bspc.exe -bsp2map <arquivo> -output <pasta> [-format brushdef|classic|valve]\n"
    "              [-game <pasta>]\n"
    "  -bsp2map <arquivo>  um BSP do Quake 3 (IBSP 46 ou 47), do Quake 2 (IBSP 38),\n"
    "                      do Quake (29, BSP2, 2PSB) ou do Half-Life (30),\n"
    "                      um .pk3 com mapas em maps/,\n"
    "                      ou um mapa dentro de um .pk3 (…/pak.pk3/maps/nome.bsp)\n"
    "  -output <pasta>     pasta já existente onde gravar <nome>.map;\n"
    "                      \"\" grava na pasta do arquivo de entrada\n"
    "  -format brushdef    brush primitives, o padrão do Quake 3: para GtkRadiant,\n"
    "                      NetRadiant e q3map2, com o alinhamento das texturas exato\n"
    "  -format classic     linhas de brush clássicas (TrenchBroom e editores antigos);\n"
    "                      no Quake 3, sem o alinhamento das texturas\n"
    "  -format valve       Valve 220, eixos da textura com deslocamento: para o\n"
    "                      TrenchBroom (\"Quake3 (Valve)\", \"Quake 2 (Valve)\"), com o\n"
    "                      alinhamento exato; o padrão do Quake 2, do Quake e do\n"
    "                      Half-Life; no Quake 3 pede o\n"
    "                      tamanho de cada imagem, procurado nos .pk3 e nas\n"
    "                      pastas textures/ e scripts/ da pasta do jogo\n"
    "  -game <pasta>       a pasta do jogo (como baseoa) onde procurar as imagens;\n"
    "                      sem ela, a pasta do .pk3 ou a que contém a pasta maps/\n"
    "  --help, --version\n";

enum Exit { Ok = 0, Failed = 1, Usage = 2 };

// The heap grown at once and made of 2 MiB pages where the kernel allows it:
// a large map fills megabytes of fresh memory, and every small page costs a
// fault and its bookkeeping, which a huge page pays once for 512. A small map
// would only pay for zeroing whole huge pages it hardly uses.
constexpr std::size_t kHugePagesFrom = std::size_t(3) << 19; // a 1.5 MiB BSP
void preferHugePages()
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    void *block = std::malloc(1 << 20);
    if (!block)
        return;
    const auto from = (reinterpret_cast<std::uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
    std::free(block);
    const auto to = reinterpret_cast<std::uintptr_t>(::sbrk(0)) & ~(kHuge - 1);
    // Best effort: without transparent huge pages the heap stays as it is.
    if (to > from)
        ::madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#endif
}

void say(std::string_view line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complain(std::string_view subject, std::string_view reason)
{
    std::string line = "bspc.exe: ";
    if (!subject.empty()) {
        line += subject;
        line += ": ";
    }
    line += reason;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

int usageError(std::string_view problem)
{
    complain({}, problem);
    std::fputs(kUsage, stderr);
    return Usage;
}

struct Arguments {
    std::optional<std::string> input;
    std::optional<std::string> output;
    std::optional<std::string> game;
    ConvertOptions options;
};

std::string secondsText(double seconds)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", seconds);
    std::string text(buffer);
    for (char &c : text)
        if (c == '.')
            c = ',';
    return text;
}

// One map: bytes already in memory, converted and written to folder/stem.map.
bool convertOne(std::string_view name, std::span<const std::byte> bytes, const fs::path &folder,
                const fs::path &stem, const ConvertOptions &options,
                std::chrono::steady_clock::time_point started)
{
    fs::path target = folder / stem;
    target += ".map";
    // The text goes out as it is made; a map that fails leaves nothing behind.
    Replacement file(target);
    auto stats = convertBsp(
        bytes, options, [&file](std::string_view text) { file.write(text); },
        [](const std::string &line) { say(line); });
    if (!stats) {
        complain(name, stats.error().message);
        return false;
    }
    say("escrevendo " + target.native());
    const auto kept = file.commit();
    if (!kept) {
        complain(target.native(), kept.error().message);
        return false;
    }
    if (!kept->empty())
        say("o mapa anterior foi guardado como " + *kept);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string summary = "escrito " + target.native() + ": " + std::to_string(stats->brushes) +
                          " brushes (" + std::to_string(stats->detailBrushes) + " detail), " +
                          std::to_string(stats->patches) + " patches, " +
                          std::to_string(stats->entities) + " entidades, ";
    if (stats->triangleSoups > 0)
        summary +=
            std::to_string(stats->triangleSoups) + " superfícies de triângulos não convertidas, ";
    if (stats->approximatedFaces > 0)
        summary += std::to_string(stats->approximatedFaces) +
                   " faces com o alinhamento de textura aproximado, ";
    if (stats->assumedSizeFaces > 0) {
        summary += std::to_string(stats->assumedSizeFaces) +
                   " faces sem imagem encontrada e tamanho suposto 64×64 (";
        for (const std::string &shader : stats->assumedSizeShaders)
            summary += (&shader == &stats->assumedSizeShaders.front() ? "" : "; ") + shader;
        summary += stats->assumedSizeShaders.size() < 3 ? "), " : "; …), ";
    }
    summary += secondsText(seconds) + " s";
    say(summary);
    return true;
}

// The output folder must already exist: a mistyped one is not made.
bool checkFolder(const fs::path &folder)
{
    switch (pathKind(folder)) {
    case PathKind::Directory:
        return true;
    case PathKind::Missing:
        complain(folder.native(), "a pasta de saída não existe");
        return false;
    case PathKind::Unreadable:
        complain(folder.native(), "a pasta de saída não pode ser acessada");
        return false;
    default:
        complain(folder.native(), "a saída não é uma pasta");
        return false;
    }
}

int convertFile(const Plan &plan, const Arguments &args)
{
    const auto started = std::chrono::steady_clock::now();
    if (!checkFolder(plan.folder))
        return Failed;
    say("lendo " + plan.source);
    // Lump offsets are 32-bit: nothing past 2 GiB can belong to a map.
    auto file = InputFile::open(fs::path(plan.source), INT32_MAX);
    if (!file) {
        complain(plan.source, file.error().message);
        return Failed;
    }
    if (file->bytes().size() >= kHugePagesFrom)
        preferHugePages();
    return convertOne(plan.source, file->bytes(), plan.folder, plan.maps->front().stem,
                      args.options, started)
               ? Ok
               : Failed;
}

// The maps of the plan, each on its own.
int convertPk3(const Plan &plan, const Arguments &args)
{
    if (!checkFolder(plan.folder))
        return Failed;
    // The maps are read into the heap, and most are large.
    preferHugePages();
    const Pk3 &pk3 = *plan.package;
    const std::vector<PlannedMap> &maps = *plan.maps;
    if (plan.whole)
        say(plan.source + ": " + std::to_string(maps.size()) + " mapas");
    int failures = 0;
    // The next map is unpacked while this one converts: inflating is about a
    // third of the work. Only one read runs at a time, so the archive is never
    // used from two threads at once. Without a thread it is read right here.
    Result<std::vector<std::byte>> unpacked = fail({});
    const auto unpack = [&](std::size_t i) {
        try {
            return std::thread([&, i] { unpacked = pk3.read(maps[i].entry); });
        } catch (const std::system_error &) {
            unpacked = pk3.read(maps[i].entry);
            return std::thread();
        }
    };
    std::thread reader = unpack(0);
    for (std::size_t i = 0; i < maps.size(); ++i) {
        const auto started = std::chrono::steady_clock::now();
        const std::string shown = plan.source + "/" + maps[i].entry;
        say("lendo " + shown);
        if (reader.joinable())
            reader.join();
        auto bytes = std::move(unpacked);
        if (i + 1 < maps.size())
            reader = unpack(i + 1);
        if (!bytes) {
            complain(shown, bytes.error().message);
            ++failures;
            continue;
        }
        if (!convertOne(shown, *bytes, plan.folder, maps[i].stem, args.options, started))
            ++failures;
    }
    if (maps.size() > 1 && failures > 0)
        complain(plan.source, std::to_string(failures) + " de " + std::to_string(maps.size()) +
                                  " mapas não convertidos");
    return failures == 0 ? Ok : Failed;
}

// The places to look for images in: the game folder's, and the pk3 that
// holds the map when it lies elsewhere, last so that it wins.
std::vector<fs::path> imagePlaces(const Plan &plan, const Arguments &args)
{
    const fs::path folder = args.game ? fs::path(*args.game) : plan.gameFolder;
    std::vector<fs::path> places;
    if (!folder.empty())
        places = gamePlaces(folder);
    std::error_code error;
    const auto same = [&](const fs::path &place) {
        return fs::equivalent(place, plan.source, error);
    };
    if (plan.package && std::none_of(places.begin(), places.end(), same))
        places.push_back(plan.source);
    return places;
}

int run(Arguments args)
{
    const Plan plan = makePlan(*args.input, *args.output);
    // What the input lacks comes first: a missing file is no missing folder.
    if (!plan.maps) {
        complain({}, plan.maps.error().message);
        return Failed;
    }
    if (args.game && pathKind(fs::path(*args.game)) != PathKind::Directory) {
        complain(*args.game, "a pasta do jogo (-game) não existe ou não é uma pasta");
        return Failed;
    }
    // Only the Valve form needs the images, and reads their index once a run.
    std::optional<GameImages> images;
    if (args.options.form == MapForm::Valve) {
        images.emplace(imagePlaces(plan, args),
                       [](const std::string &line) { complain({}, line); });
        args.options.sizes = &*images;
    }
    return plan.package ? convertPk3(plan, args) : convertFile(plan, args);
}

} // namespace

int main(int argc, char **argv)
{
    // Nobody may be reading the progress; that must not stop a conversion.
    std::signal(SIGPIPE, SIG_IGN);
    // Stopped by Ctrl-C, kill or a closed terminal, a run leaves no temporary file behind.
    cleanUpOnInterrupt();
    // A conversion builds a few large arrays, frees them, and builds them again
    // for the next model or map: keep that memory in the heap rather than
    // mapping fresh, zeroed pages each time.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_TOP_PAD, 16 << 20);

    Arguments args;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs("bspc.exe: converte um mapa compilado do Quake 3, do Quake 2, do Quake ou do "
                       "Half-Life (BSP) "
                       "de volta em .map\n",
                       stdout);
            std::fputs(kUsage, stdout);
            std::fputs("saída: 0 com o .map inteiro gravado, 1 por erro de entrada ou saída, "
                       "2 por linha de comando errada\n",
                       stdout);
            return Ok;
        }
        if (arg == "--version") {
            std::fputs("bspc.exe (Vostrand) " BSPC_VERSION "\n", stdout);
            return Ok;
        }
        auto value = [&](std::optional<std::string> &slot) -> bool {
            if (slot || i + 1 >= argc)
                return false;
            slot = std::string(argv[++i]);
            return true;
        };
        if (arg == "-bsp2map") {
            if (!value(args.input))
                return usageError(args.input ? "-bsp2map repetido"
                                             : "falta o arquivo depois de -bsp2map");
        } else if (arg == "-output") {
            if (!value(args.output))
                return usageError(args.output ? "-output repetido"
                                              : "falta a pasta depois de -output");
        } else if (arg == "-game") {
            if (!value(args.game))
                return usageError(args.game ? "-game repetido" : "falta a pasta depois de -game");
        } else if (arg == "-format") {
            if (i + 1 >= argc)
                return usageError("falta o formato depois de -format");
            const std::string_view format = argv[++i];
            args.options.form = formNamed(format);
            if (!args.options.form)
                return usageError("formato desconhecido: " + std::string(format));
        } else {
            return usageError("argumento desconhecido: " + std::string(arg));
        }
    }
    if (!args.input)
        return usageError("falta -bsp2map <arquivo>");
    if (args.input->empty())
        return usageError("o arquivo de -bsp2map está vazio");
    if (!args.output)
        return usageError("falta -output <pasta>");
    return run(args);
}
