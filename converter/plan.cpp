#include "plan.h"

#include "files.h"

#include <string_view>

namespace fs = std::filesystem;

namespace bsp2map {

namespace {

bool endsWithPk3(std::string_view name)
{
    if (name.size() < 4)
        return false;
    const std::string_view tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'p' && (tail[2] | 0x20) == 'k' && tail[3] == '3';
}

// The last component of a path, trailing slashes aside.
std::string lastName(std::string_view path)
{
    const std::size_t end = path.find_last_not_of('/');
    if (end == std::string_view::npos)
        return std::string(path.substr(0, 1));
    path = path.substr(0, end + 1);
    return std::string(path.substr(path.rfind('/') + 1));
}

// The file that `input` names and, for a path through a pk3, the entry after
// it: the longest leading part that is a regular .pk3 file is the package.
// Nothing after it ("pak.pk3/") names the whole package, as "pak.pk3" does.
struct Located {
    std::string file;
    std::optional<std::string> entry;
    bool package = false;
    bool missing = false;
};

Located locate(const std::string &input)
{
    const PathKind kind = pathKind(fs::path(input));
    // Directories, FIFOs and unreadable paths are files that opening refuses.
    if (kind != PathKind::Missing)
        return {input, std::nullopt, kind == PathKind::Regular && endsWithPk3(input)};
    for (std::size_t slash = input.rfind('/'); slash != std::string::npos && slash > 0;
         slash = input.rfind('/', slash - 1)) {
        std::string prefix = input.substr(0, slash);
        if (endsWithPk3(prefix) && pathKind(fs::path(prefix)) == PathKind::Regular) {
            const std::size_t start = input.find_first_not_of('/', slash);
            if (start == std::string::npos)
                return {std::move(prefix), std::nullopt, true};
            return {std::move(prefix), input.substr(start), true};
        }
    }
    return {input, std::nullopt, false, true};
}

bool isMapsFolder(std::string_view name)
{
    return name.size() == 4 && (name[0] | 0x20) == 'm' && (name[1] | 0x20) == 'a' &&
           (name[2] | 0x20) == 'p' && (name[3] | 0x20) == 's';
}

PlannedMap planned(const Plan &plan, std::string entry, const fs::path &file)
{
    fs::path stem = file.filename().stem();
    fs::path target = plan.folder / stem;
    target += ".map";
    return {std::move(entry), std::move(stem), std::move(target)};
}

// Every map of the package, or the one entry named.
Result<std::vector<PlannedMap>> packageMaps(Plan &plan, const std::optional<std::string> &entry)
{
    auto pk3 = Pk3::open(fs::path(plan.source));
    if (!pk3)
        return fail(plan.source + ": " + pk3.error().message);
    plan.package = std::move(*pk3);
    std::vector<PlannedMap> maps;
    if (entry) {
        const std::string subject = plan.source + "/" + *entry;
        // A folder inside the package holds entries, but is none.
        if (entry->back() == '/')
            return fail(subject + ": nenhum mapa com esse nome no pk3");
        auto found = plan.package->findEntry(*entry);
        if (!found)
            return fail(subject + ": " + found.error().message);
        maps.push_back(planned(plan, *found, fs::path(*found)));
        return maps;
    }
    plan.whole = true;
    for (std::string &name : plan.package->mapEntries())
        maps.push_back(planned(plan, name, fs::path(name)));
    if (maps.empty())
        return fail(plan.source + ": nenhum mapa (maps/*.bsp) no pk3");
    return maps;
}

} // namespace

Plan makePlan(const std::string &input, const std::string &output, const fs::path &base)
{
    Located located = locate(input);
    Plan plan;
    plan.source = std::move(located.file);
    plan.name = lastName(located.entry ? *located.entry : plan.source);
    plan.folder = output.empty() ? fs::path(plan.source).parent_path() : fs::path(output);
    if (plan.folder.is_relative() && !base.empty())
        plan.folder = plan.folder.empty() ? base : base / plan.folder;
    if (plan.folder.empty())
        plan.folder = ".";
    const fs::path holder = fs::path(plan.source).parent_path();
    if (located.package)
        plan.gameFolder = holder.empty() ? fs::path(".") : holder;
    else if (isMapsFolder(lastName(holder.native())))
        plan.gameFolder = holder.parent_path().empty() ? fs::path(".") : holder.parent_path();
    if (located.missing)
        plan.maps = fail(input + ": arquivo não encontrado");
    else if (located.package)
        plan.maps = packageMaps(plan, located.entry);
    else
        plan.maps = std::vector<PlannedMap>{planned(plan, {}, fs::path(plan.source))};
    return plan;
}

} // namespace bsp2map
