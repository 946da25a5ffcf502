#include "app/Hushvane_ProcessTable.h"
#include "app/Hushvane_Compare.h"

#include <utility>

namespace NHushvane
{
	using NZel::int32;
	using NZel::uint32;
	using NZel::umint;

	static_assert(alignof(CProcessTable::CEntry) >= 2, "the balance bit needs a free low bit in every node address");

	CProcessTable::CEntry::CEntry(NZel::NStr::CStr Name, uint32 PriorityClass)
		: fp_Name(std::move(Name))
		, fp_PriorityClass(PriorityClass)
	{
	}

	CProcessTable::~CProcessTable()
	{
		f_Clear();
	}

	CProcessTable::CProcessTable(CProcessTable &&Other) noexcept
		: fp_pRoot(Other.fp_pRoot)
		, fp_Count(Other.fp_Count)
	{
		Other.fp_pRoot = nullptr;
		Other.fp_Count = 0;
	}

	CProcessTable &CProcessTable::operator=(CProcessTable &&Other) noexcept
	{
		if (this != &Other)
		{
			f_Clear();
			fp_pRoot = Other.fp_pRoot;
			fp_Count = Other.fp_Count;
			Other.fp_pRoot = nullptr;
			Other.fp_Count = 0;
		}
		return *this;
	}

	void CProcessTable::f_Clear()
	{
		fs_Destroy(fp_pRoot);
		fp_pRoot = nullptr;
		fp_Count = 0;
	}

	void CProcessTable::fs_Destroy(CEntry *pNode)
	{
		// Recursion depth is the tree height, which stays below 1.45 * log2(count + 2).
		if (!pNode)
			return;
		fs_Destroy(fs_Child(pNode->fp_Left));
		fs_Destroy(fs_Child(pNode->fp_Right));
		delete pNode;
	}

	const CProcessTable::CEntry *CProcessTable::f_Find(const char *pName) const
	{
		const CEntry *pNode = fp_pRoot;
		while (pNode)
		{
			NZel::int16 Compare = gf_CompareNoCase(pName, pNode->fp_Name.f_GetStr());
			if (Compare == 0)
				return pNode;
			pNode = fs_Child(Compare < 0 ? pNode->fp_Left : pNode->fp_Right);
		}
		return nullptr;
	}

	bool CProcessTable::f_Insert(NZel::NStr::CStr Name, uint32 PriorityClass)
	{
		if (f_Find(Name.f_GetStr()))
			return false;
		CEntry *pNew = new CEntry(std::move(Name), PriorityClass);
		bool bGrew = false;
		bool bInserted = false;
		fp_pRoot = fs_Insert(fp_pRoot, pNew, bGrew, bInserted);
		++fp_Count;
		return true;
	}

	int32 CProcessTable::fs_Balance(const CEntry *pNode)
	{
		if (fs_Tall(pNode->fp_Left))
			return -1;
		if (fs_Tall(pNode->fp_Right))
			return 1;
		return 0;
	}

	void CProcessTable::fs_SetBalance(CEntry *pNode, int32 Balance)
	{
		pNode->fp_Left = (pNode->fp_Left & ~umint(1)) | umint(Balance < 0);
		pNode->fp_Right = (pNode->fp_Right & ~umint(1)) | umint(Balance > 0);
	}

	// Rotations move child pointers only; each node keeps its own balance bits, which the
	// caller sets afterwards.
	CProcessTable::CEntry *CProcessTable::fs_RotateRight(CEntry *pNode)
	{
		CEntry *pLeft = fs_Child(pNode->fp_Left);
		fs_SetChild(pNode->fp_Left, fs_Child(pLeft->fp_Right));
		fs_SetChild(pLeft->fp_Right, pNode);
		return pLeft;
	}

	CProcessTable::CEntry *CProcessTable::fs_RotateLeft(CEntry *pNode)
	{
		CEntry *pRight = fs_Child(pNode->fp_Right);
		fs_SetChild(pNode->fp_Right, fs_Child(pRight->fp_Left));
		fs_SetChild(pRight->fp_Left, pNode);
		return pRight;
	}

	CProcessTable::CEntry *CProcessTable::fs_Insert(CEntry *pNode, CEntry *pNew, bool &bGrew, bool &bInserted)
	{
		if (!pNode)
		{
			bGrew = true;
			bInserted = true;
			return pNew;
		}
		NZel::int16 Compare = gf_CompareNoCase(pNew->fp_Name.f_GetStr(), pNode->fp_Name.f_GetStr());
		if (Compare == 0)
		{
			bGrew = false;
			return pNode;
		}
		// Side of the insertion: -1 left, +1 right. The code below is written once for both
		// sides by swapping the roles of the links.
		int32 Side = Compare < 0 ? -1 : 1;
		umint &Near = Side < 0 ? pNode->fp_Left : pNode->fp_Right;
		fs_SetChild(Near, fs_Insert(fs_Child(Near), pNew, bGrew, bInserted));
		if (!bGrew)
			return pNode;

		int32 Balance = fs_Balance(pNode);
		if (Balance == -Side)
		{
			fs_SetBalance(pNode, 0);
			bGrew = false;
			return pNode;
		}
		if (Balance == 0)
		{
			fs_SetBalance(pNode, Side);
			return pNode;
		}

		// The insertion side is now two levels taller: one rotation (outer case) or two
		// (inner case) restore the height the subtree had before the insertion.
		bGrew = false;
		CEntry *pChild = fs_Child(Near);
		if (fs_Balance(pChild) == Side)
		{
			CEntry *pTop = Side < 0 ? fs_RotateRight(pNode) : fs_RotateLeft(pNode);
			fs_SetBalance(pNode, 0);
			fs_SetBalance(pChild, 0);
			return pTop;
		}
		CEntry *pGrandChild = fs_Child(Side < 0 ? pChild->fp_Right : pChild->fp_Left);
		int32 GrandBalance = fs_Balance(pGrandChild);
		if (Side < 0)
		{
			fs_SetChild(pNode->fp_Left, fs_RotateLeft(pChild));
			fs_RotateRight(pNode);
		}
		else
		{
			fs_SetChild(pNode->fp_Right, fs_RotateRight(pChild));
			fs_RotateLeft(pNode);
		}
		fs_SetBalance(pNode, GrandBalance == Side ? -Side : 0);
		fs_SetBalance(pChild, GrandBalance == -Side ? Side : 0);
		fs_SetBalance(pGrandChild, 0);
		return pGrandChild;
	}

	uint32 CProcessTable::f_GetHeight() const
	{
		struct CHeight
		{
			static uint32 fs_Of(const CEntry *pNode)
			{
				if (!pNode)
					return 0;
				uint32 Left = fs_Of(fs_Child(pNode->fp_Left));
				uint32 Right = fs_Of(fs_Child(pNode->fp_Right));
				return 1 + (Left > Right ? Left : Right);
			}
		};
		return CHeight::fs_Of(fp_pRoot);
	}

	int32 CProcessTable::fs_CheckedHeight(const CEntry *pNode)
	{
		if (!pNode)
			return 0;
		if (fs_Tall(pNode->fp_Left) && fs_Tall(pNode->fp_Right))
			return -1;
		int32 Left = fs_CheckedHeight(fs_Child(pNode->fp_Left));
		int32 Right = fs_CheckedHeight(fs_Child(pNode->fp_Right));
		if (Left < 0 || Right < 0 || Right - Left != fs_Balance(pNode))
			return -1;
		return 1 + (Left > Right ? Left : Right);
	}

	bool CProcessTable::f_CheckStructure() const
	{
		if (fs_CheckedHeight(fp_pRoot) < 0)
			return false;
		const CEntry *pPrevious = nullptr;
		bool bOrdered = true;
		uint32 Count = 0;
		f_ForEach([&](const CEntry &Entry)
		{
			if (pPrevious && gf_CompareNoCase(pPrevious->fp_Name.f_GetStr(), Entry.fp_Name.f_GetStr()) >= 0)
				bOrdered = false;
			pPrevious = &Entry;
			++Count;
		});
		return bOrdered && Count == fp_Count;
	}
}
