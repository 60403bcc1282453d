#include "ui.h"

#include "core.h"
#include "errnotext.h"

namespace ui {

QString reasonText(core::Error error)
{
    switch (error.code) {
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
    }
    // errno values: the converter's table, so that both say the same.
    return QString::fromStdString(bsp2map::errnoText(error.code));
}

} // namespace ui
