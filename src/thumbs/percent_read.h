// The parser's PercentRead, until the entropy decoder provides it: 0 (nothing decoded).
#pragma once

#include "jpeg/parser.h"

template <class Parser>
int PercentReadOf(const Parser& AParser) {
    if constexpr (requires { AParser.PercentRead(); })
        return AParser.PercentRead();
    else
        return 0;
}
