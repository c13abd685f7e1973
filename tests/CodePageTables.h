#pragma once

#include "CodePages.h"

namespace fanjian::testing {

// The code pages as glibc's iconv knows them, read once per test program.
inline const data::CodeTable& Big5()
{
    static const data::CodeTable table = data::LoadBig5();
    return table;
}

inline const data::CodeTable& Gb()
{
    static const data::CodeTable table = data::LoadGb();
    return table;
}

} // namespace fanjian::testing
