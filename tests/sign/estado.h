#pragma once
// The name of a verdict, for the messages of the signature tests and of the fuzz target.

#include "sign/assinatura.h"

namespace vndtest {

inline const char *NomeDoEstado(vnd::EstadoAssinatura e)
{
    switch (e) {
    case vnd::EstadoAssinatura::Intacta: return "Intacta";
    case vnd::EstadoAssinatura::DigestDiverge: return "DigestDiverge";
    case vnd::EstadoAssinatura::ValorInvalido: return "ValorInvalido";
    case vnd::EstadoAssinatura::SemAssinatura: return "SemAssinatura";
    case vnd::EstadoAssinatura::Malformada: return "Malformada";
    }
    return "?";
}

} // namespace vndtest
