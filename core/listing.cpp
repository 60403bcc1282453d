#include "core.h"
#include "platform.h"

#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace core {

namespace {

DirectoryReader directoryReader = nullptr;

bool isHidden(const QString &name)
{
    return name.startsWith(QLatin1Char('.'));
}

class NameMatcher {
public:
    explicit NameMatcher(const QString &pattern)
    {
        bool any = false;
        for (const QString &raw : pattern.split(QLatin1Char(';'))) {
            const QString part = raw.trimmed();
            if (part.isEmpty())
                continue;
            any = true;
            // "*.*" takes names without a dot too, as it always did.
            if (part == QLatin1String("*") || part == QLatin1String("*.*")) {
                all = true;
                return;
            }
            const QStringView tail = QStringView(part).mid(1);
            if (part.startsWith(QLatin1Char('*')) && !tail.isEmpty() &&
                !tail.contains(QLatin1Char('*')) && !tail.contains(QLatin1Char('?')) &&
                !tail.contains(QLatin1Char('['))) {
                suffixes.append(tail.toString());
                continue;
            }
            // Names hold no separators, so the path rules of the conversion never apply.
            QRegularExpression expression(QRegularExpression::wildcardToRegularExpression(part),
                                          QRegularExpression::CaseInsensitiveOption);
            expression.optimize();
            expressions.append(expression);
        }
        all = !any; // no pattern at all filters nothing
    }

    bool matches(const QString &name) const
    {
        if (all)
            return true;
        for (const QString &suffix : suffixes) {
            if (name.endsWith(suffix, Qt::CaseInsensitive))
                return true;
        }
        for (const QRegularExpression &expression : expressions) {
            if (expression.match(name).hasMatch() ||
                (hasEscapedBytes(name) && expression.match(displayName(name)).hasMatch()))
                return true;
        }
        return false;
    }

private:
    bool all = false;
    QStringList suffixes;
    QList<QRegularExpression> expressions;
};

// Case-folded once per name, so the comparisons stay plain code-unit compares.
struct SortKey {
    QString folded;
    QString name;
};

QStringList sortedNames(std::vector<SortKey> &keys)
{
    std::sort(keys.begin(), keys.end(), [](const SortKey &a, const SortKey &b) {
        const int order = a.folded.compare(b.folded);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    QStringList names;
    names.reserve(qsizetype(keys.size()));
    for (SortKey &key : keys)
        names.append(std::move(key.name));
    return names;
}

} // namespace

void setDirectoryReader(DirectoryReader reader)
{
    directoryReader = reader;
}

Result<Listing> readDirectory(const QString &path)
{
    return directoryReader ? directoryReader(path) : platform::readDirectory(path);
}

QStringList matchingFiles(const Listing &entries, const QString &pattern)
{
    const NameMatcher matcher(pattern);
    std::vector<SortKey> keys;
    for (const DirEntry &entry : entries) {
        if (!entry.isDir && !isHidden(entry.name) && matcher.matches(entry.name))
            keys.push_back({entry.name.toCaseFolded(), entry.name});
    }
    return sortedNames(keys);
}

QStringList sortedSubdirectories(const Listing &entries)
{
    std::vector<SortKey> keys;
    for (const DirEntry &entry : entries) {
        if (entry.isDir && !isHidden(entry.name))
            keys.push_back({entry.name.toCaseFolded(), entry.name});
    }
    return sortedNames(keys);
}

} // namespace core
