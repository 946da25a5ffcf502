#include "zel/library/core/general/Zel_List_Vector.h"

#include "zel/library/core/general/Zel_Exception.h"

namespace NZel::NList
{
	void CVectorBoundsCheck::fs_CheckBounds(void const *pStorage, mint Count, mint Index)
	{
		if (!pStorage || umint(Index) >= umint(Count))
			DZelThrow(CExceptionListBoundCheck, "Tried to access element outside list");
	}
}
