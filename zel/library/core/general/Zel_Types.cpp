#include "zel/library/core/general/Zel_Types.h"

static_assert(sizeof(NZel::int32) == 4 && sizeof(NZel::uint64) == 8);
static_assert(sizeof(NZel::mint) == sizeof(void *));
