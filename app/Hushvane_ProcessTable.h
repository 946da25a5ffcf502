#pragma once
#include "zel/library/core/general/Zel_Str.h"
#include "zel/library/core/general/Zel_Types.h"

namespace NHushvane
{
	// Executable name -> priority class, keyed with gf_CompareNoCase, so names that differ only
	// in letter case are one entry. A height-balanced (AVL) tree: each entry is a single heap
	// block, and the balance of a node lives in the low bit of each child link:
	//
	//     left link bit 1  -> the left subtree is one level taller
	//     right link bit 1 -> the right subtree is one level taller
	//     both 0           -> both subtrees have the same height
	//
	// Both bits set never occurs. Nodes are at least 4-byte aligned, so the bit is free.
	class CProcessTable
	{
	public:
		class CEntry
		{
		public:
			const NZel::NStr::CStr &f_GetName() const { return fp_Name; }
			NZel::uint32 f_GetPriorityClass() const { return fp_PriorityClass; }

		private:
			friend class CProcessTable;
			CEntry(NZel::NStr::CStr Name, NZel::uint32 PriorityClass);

			NZel::NStr::CStr fp_Name;
			NZel::uint32 fp_PriorityClass;
			NZel::umint fp_Left = 0;
			NZel::umint fp_Right = 0;
		};

		CProcessTable() = default;
		~CProcessTable();
		CProcessTable(const CProcessTable &) = delete;
		CProcessTable &operator=(const CProcessTable &) = delete;
		// Moving hands the entries over; the source is left empty.
		CProcessTable(CProcessTable &&Other) noexcept;
		CProcessTable &operator=(CProcessTable &&Other) noexcept;

		// The entry whose name equals pName without regard to case, or null.
		const CEntry *f_Find(const char *pName) const;

		// Adds an entry. A name that is already present is left as it is (the first entry
		// wins) and the call returns false.
		bool f_Insert(NZel::NStr::CStr Name, NZel::uint32 PriorityClass);

		void f_Clear();
		NZel::uint32 f_GetCount() const { return fp_Count; }
		bool f_IsEmpty() const { return fp_Count == 0; }

		// Visits the entries in key order; the callback must not change the table.
		template <typename t_CCallback>
		void f_ForEach(t_CCallback &&Callback) const
		{
			fs_Walk(fp_pRoot, Callback);
		}

		// Height of the tree (0 when empty) and a full self-check of order, heights and the
		// balance bits; both walk the whole tree.
		NZel::uint32 f_GetHeight() const;
		bool f_CheckStructure() const;

	private:
		static CEntry *fs_Child(NZel::umint Link) { return reinterpret_cast<CEntry *>(Link & ~NZel::umint(1)); }
		static bool fs_Tall(NZel::umint Link) { return (Link & 1) != 0; }
		static NZel::int32 fs_Balance(const CEntry *pNode);
		static void fs_SetBalance(CEntry *pNode, NZel::int32 Balance);
		static void fs_SetChild(NZel::umint &Link, CEntry *pChild) { Link = (Link & 1) | reinterpret_cast<NZel::umint>(pChild); }

		static CEntry *fs_RotateLeft(CEntry *pNode);
		static CEntry *fs_RotateRight(CEntry *pNode);
		static CEntry *fs_Insert(CEntry *pNode, CEntry *pNew, bool &bGrew, bool &bInserted);
		static void fs_Destroy(CEntry *pNode);
		static NZel::int32 fs_CheckedHeight(const CEntry *pNode);

		template <typename t_CCallback>
		static void fs_Walk(const CEntry *pNode, t_CCallback &Callback)
		{
			if (!pNode)
				return;
			fs_Walk(fs_Child(pNode->fp_Left), Callback);
			Callback(*pNode);
			fs_Walk(fs_Child(pNode->fp_Right), Callback);
		}

		CEntry *fp_pRoot = nullptr;
		NZel::uint32 fp_Count = 0;
	};
}
