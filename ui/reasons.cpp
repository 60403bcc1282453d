#include "ui.h"

#include "core.h"

#include <cerrno>
#include <cstring>

namespace ui {

QString reasonText(core::Error error)
{
    const int err = error.code;
    switch (err) {
    case core::Error::NulInArgument:
        return QStringLiteral("um argumento contém um caractere nulo");
    case core::Error::NoProgramFolder:
        return QStringLiteral("a pasta do programa é desconhecida");
    case core::Error::MissingInterpreter:
        return QStringLiteral("o interpretador %1 não foi encontrado")
            .arg(core::displayName(error.subject));
    case core::Error::MissingLoader:
        return QStringLiteral("o carregador do programa, %1, não foi encontrado")
            .arg(core::displayName(error.subject));
    case ENOENT:
        return QStringLiteral("arquivo não encontrado");
    case EACCES:
    case EPERM:
        return QStringLiteral("permissão negada");
    case ENOEXEC:
        return QStringLiteral("o arquivo não é um executável válido");
    case ENOTDIR:
        return QStringLiteral("um componente do caminho não é um diretório");
    case EISDIR:
        return QStringLiteral("é um diretório");
    case ELOOP:
        return QStringLiteral("links simbólicos demais no caminho");
    case ENAMETOOLONG:
        return QStringLiteral("nome de arquivo longo demais");
    case E2BIG:
        return QStringLiteral("lista de argumentos longa demais");
    case EIO:
        return QStringLiteral("erro de entrada/saída");
    case ENOMEM:
        return QStringLiteral("memória insuficiente");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("arquivos abertos demais");
    case ETXTBSY:
        return QStringLiteral("o arquivo executável está em uso");
    case ENODEV:
    case ENXIO:
        return QStringLiteral("dispositivo não disponível");
#ifdef ENOMEDIUM
    case ENOMEDIUM:
        return QStringLiteral("nenhuma mídia no dispositivo");
#endif
    case EAGAIN:
        return QStringLiteral("recurso temporariamente indisponível");
    case ESTALE:
        return QStringLiteral("o diretório deixou de existir");
    default:
        return QStringLiteral("erro %1 do sistema (%2)")
            .arg(err)
            .arg(QString::fromLocal8Bit(std::strerror(err)));
    }
}

} // namespace ui
