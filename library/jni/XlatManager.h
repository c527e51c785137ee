// The process's one translation-table manager, owned by the XlatManager
// entries and used by the conversions.
#pragma once

#include <memory>

#include "xlat/xman.h"

namespace korrin {

// Null until the application's first setpath, which creates it; later calls
// rescan it. Conversions run only after that call and never during one.
extern std::unique_ptr<XlatManager> xman;

} // namespace korrin
