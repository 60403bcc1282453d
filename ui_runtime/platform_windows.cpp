// Windows: drive letters, FindFirstFile and the native process start.
#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <windows.h>

namespace ui::platform {

QChar nativeSeparator()
{
    return QLatin1Char('\\');
}
bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

namespace {
QString lastErrorText(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
        return QStringLiteral("arquivo não encontrado");
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("caminho não encontrado");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("permissão negada");
    case ERROR_NOT_READY:
        return QStringLiteral("a unidade não está pronta");
    case ERROR_BAD_EXE_FORMAT:
        return QStringLiteral("o arquivo não é um executável válido");
    case ERROR_FILENAME_EXCED_RANGE:
        return QStringLiteral("nome de arquivo longo demais");
    default:
        return QStringLiteral("erro %1 do sistema").arg(code);
    }
}
} // namespace

QString executablePath()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size())
            return QString::fromWCharArray(buffer.data(), int(n));
        buffer.resize(buffer.size() * 2);
    }
}

StartResult spawnDetached(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (process.startDetached())
        return {true, {}};
    return {false, lastErrorText(GetLastError())};
}

QString readDirectory(const QString &path, QList<RawEntry> &entries)
{
    QString pattern = QDir::toNativeSeparators(path);
    if (!pattern.endsWith(QLatin1Char('\\')))
        pattern += QLatin1Char('\\');
    pattern += QLatin1Char('*');
    WIN32_FIND_DATAW data;
    HANDLE find =
        FindFirstFileExW(reinterpret_cast<const wchar_t *>(pattern.utf16()), FindExInfoBasic, &data,
                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return lastErrorText(GetLastError());
    do {
        const QString name = QString::fromWCharArray(data.cFileName);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
            continue;
        entries.append({name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(find, &data));
    const DWORD err = GetLastError();
    FindClose(find);
    return err == ERROR_NO_MORE_FILES ? QString() : lastErrorText(err);
}

bool isDirectory(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

QStringList drives()
{
    QStringList result;
    const DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (mask & (1u << i))
            result.append(QString(QChar('a' + i)) + QLatin1Char(':'));
    }
    return result;
}

} // namespace ui::platform
