#include "errnotext.h"

#include <cerrno>
#include <cstring>

namespace bsp2map {

std::string errnoText(int error)
{
    switch (error) {
    case ENOENT:
        return "arquivo não encontrado";
    case ENOTDIR:
        return "um componente do caminho não é um diretório";
    case EACCES:
    case EPERM:
        return "permissão negada";
    case EISDIR:
        return "é um diretório";
    case ENOEXEC:
        return "o arquivo não é um executável válido";
    case ETXTBSY:
        return "o arquivo executável está em uso";
    case ENAMETOOLONG:
        return "nome de arquivo longo demais";
    case E2BIG:
        return "lista de argumentos longa demais";
    case ELOOP:
        return "links simbólicos demais no caminho";
    case ENOSPC:
        return "sem espaço no disco";
    case EDQUOT:
        return "cota de disco esgotada";
    case EROFS:
        return "sistema de arquivos somente leitura";
    case EFBIG:
        return "arquivo grande demais";
    case EXDEV:
        return "os dois nomes estão em sistemas de arquivos diferentes";
    case EIO:
        return "erro de entrada e saída";
    case ENOMEM:
        return "memória insuficiente";
    case EMFILE:
    case ENFILE:
        return "arquivos abertos demais";
    case ENODEV:
    case ENXIO:
        return "dispositivo não disponível";
#ifdef ENOMEDIUM
    case ENOMEDIUM:
        return "nenhuma mídia no dispositivo";
#endif
    case EAGAIN:
        return "recurso temporariamente indisponível";
    case ESTALE:
        return "o diretório deixou de existir";
    }
    // The system's own words, in the user's language where it has them.
    return "erro " + std::to_string(error) + " do sistema (" + std::strerror(error) + ")";
}

} // namespace bsp2map
