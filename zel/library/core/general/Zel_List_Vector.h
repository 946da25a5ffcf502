#pragma once
// TCVector: a growable array whose element access is bounds-checked through a policy class;
// CVectorBoundsCheck throws CExceptionListBoundCheck for an index outside the vector.
#include "zel/library/core/general/Zel_Types.h"

#include <vector>

namespace NZel::NList
{
	class CVectorBoundsCheck
	{
	public:
		// Fails when the vector has no storage, or when Index, taken as unsigned, is not below
		// Count (so negative indexes fail too).
		static void fs_CheckBounds(void const *pStorage, mint Count, mint Index);

		template <typename t_CVector>
		static void fs_CheckBounds(t_CVector const &Vector, mint Index)
		{
			fs_CheckBounds(Vector.f_GetData(), Vector.f_GetLen(), Index);
		}
	};

	template <typename t_CValue, typename t_CBoundsCheck = CVectorBoundsCheck>
	class TCVector
	{
	public:
		mint f_GetLen() const
		{
			return mint(fp_Values.size());
		}

		// Null while the vector has never had room.
		t_CValue const *f_GetData() const
		{
			return fp_Values.empty() ? nullptr : fp_Values.data();
		}

		// Grows with value-initialised elements or shrinks from the end.
		void f_SetLen(mint Length)
		{
			fp_Values.resize(umint(Length));
		}

		void f_Add(t_CValue const &Value)
		{
			fp_Values.push_back(Value);
		}

		t_CValue &operator[](mint Index)
		{
			t_CBoundsCheck::fs_CheckBounds(*this, Index);
			return fp_Values[umint(Index)];
		}

		t_CValue const &operator[](mint Index) const
		{
			t_CBoundsCheck::fs_CheckBounds(*this, Index);
			return fp_Values[umint(Index)];
		}

	private:
		std::vector<t_CValue> fp_Values;
	};
}
