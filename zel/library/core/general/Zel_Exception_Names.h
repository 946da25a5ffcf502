#pragma once
// Compile-time helpers of the throw macros: the qualified function name from the compiler's
// pretty function signature, the class name without its namespaces, and the source path from
// the library folder on (no build machine's folders in the diagnostic lines).
#include "zel/library/core/general/Zel_Types.h"

namespace NZel::NException::NPrivate
{
	template <umint t_Size>
	struct TCConstName
	{
		char f_Text[t_Size] = {};

		constexpr const char *f_GetStr() const
		{
			return f_Text;
		}
	};

	// "unsigned int NZel::NSys::NFile::gf_Open(const char*, int)" -> "NZel::NSys::NFile::gf_Open".
	// The name ends at the first '(' outside template brackets and begins after the last space
	// outside template brackets before it; "operator()" and friends keep their brackets.
	template <umint t_Size>
	constexpr TCConstName<t_Size> gf_QualifiedFunctionName(const char (&Signature)[t_Size])
	{
		TCConstName<t_Size> Result;
		umint Len = 0;
		while (Len < t_Size && Signature[Len])
			++Len;
		umint End = Len;
		int Depth = 0;
		for (umint i = 0; i < Len; ++i)
		{
			char c = Signature[i];
			if (c == '<')
				++Depth;
			else if (c == '>' && Depth > 0)
				--Depth;
			else if (c == '(' && Depth == 0)
			{
				// "operator()(" : the first pair belongs to the name.
				if (i >= 8 && Signature[i + 1] == ')' && Signature[i + 2] == '(' && Signature[i - 1] == 'r')
				{
					End = i + 2;
					break;
				}
				End = i;
				break;
			}
		}
		umint Begin = 0;
		Depth = 0;
		for (umint i = End; i > 0; --i)
		{
			char c = Signature[i - 1];
			if (c == '>')
				++Depth;
			else if (c == '<' && Depth > 0)
				--Depth;
			else if (c == ' ' && Depth == 0)
			{
				Begin = i;
				break;
			}
		}
		// A pointer or reference return type is written against the name in some compilers.
		while (Begin < End && (Signature[Begin] == '*' || Signature[Begin] == '&'))
			++Begin;
		for (umint i = Begin; i < End; ++i)
			Result.f_Text[i - Begin] = Signature[i];
		return Result;
	}

	constexpr const char *gf_ClassName(const char *pQualified)
	{
		const char *pName = pQualified;
		for (const char *p = pQualified; *p; ++p)
			if (*p == ':')
				pName = p + 1;
		return pName;
	}

	// The path from the last "library/", "KvWin/", "app/" or "tests/" folder on, or the whole
	// path when there is none.
	constexpr const char *gf_SourceFileName(const char *pPath)
	{
		const char *pName = pPath;
		const char *const Roots[] = {"library/", "KvWin/", "app/", "tests/", "library\\", "KvWin\\", "app\\", "tests\\"};
		for (const char *p = pPath; *p; ++p)
		{
			if (p != pPath && p[-1] != '/' && p[-1] != '\\')
				continue;
			for (const char *pRoot : Roots)
			{
				umint i = 0;
				while (pRoot[i] && p[i] == pRoot[i])
					++i;
				if (!pRoot[i])
					pName = p;
			}
		}
		return pName;
	}
}
