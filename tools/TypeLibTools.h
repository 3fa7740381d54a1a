#pragma once
// Shared pieces of the build tool dravlo_tlbfix: failures, and owners of the
// attribute blocks that ITypeLib and ITypeInfo hand out.

#include <windows.h>
#include <oleauto.h>
#include <comdef.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace TypeLibTools {

_COM_SMARTPTR_TYPEDEF(ITypeLib, __uuidof(ITypeLib));
_COM_SMARTPTR_TYPEDEF(ITypeInfo, __uuidof(ITypeInfo));
_COM_SMARTPTR_TYPEDEF(ICreateTypeLib2, __uuidof(ICreateTypeLib2));
_COM_SMARTPTR_TYPEDEF(ICreateTypeInfo, __uuidof(ICreateTypeInfo));

/// A step of the tool that failed; the message says which and why.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Throws a Failure naming `what` and the HRESULT when `hr` failed.
void check(HRESULT hr, const std::string& what);

/// "{XXXXXXXX-...}" of `guid`.
std::wstring guidText(REFGUID guid);

/// Narrow (ASCII) form of a type library name, for messages.
std::string narrow(const std::wstring& text);

/// True for the local copy of stdole2's IUnknown or IDispatch that an IDL
/// compiler may write into a library; such a copy is dropped, never copied.
bool isStandIn(const TYPEATTR& attributes);

/// The TYPEATTR of one type information, released on destruction. Holds its
/// own reference on the type information.
class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* info);
    ~TypeAttr() { info_->ReleaseTypeAttr(attributes_); }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    const TYPEATTR* operator->() const { return attributes_; }
    const TYPEATTR& operator*() const { return *attributes_; }

private:
    ITypeInfoPtr info_;
    TYPEATTR* attributes_ = nullptr;
};

/// The FUNCDESC of one method, released on destruction. Holds its own
/// reference on the type information.
class FuncDesc {
public:
    FuncDesc(ITypeInfo* info, UINT index);
    ~FuncDesc() { info_->ReleaseFuncDesc(function_); }
    FuncDesc(const FuncDesc&) = delete;
    FuncDesc& operator=(const FuncDesc&) = delete;
    const FUNCDESC* operator->() const { return function_; }
    const FUNCDESC& operator*() const { return *function_; }

private:
    ITypeInfoPtr info_;
    FUNCDESC* function_ = nullptr;
};

/// The TLIBATTR of a library, released on destruction. Holds its own
/// reference on the library.
class LibAttr {
public:
    explicit LibAttr(ITypeLib* library);
    ~LibAttr() { library_->ReleaseTLibAttr(attributes_); }
    LibAttr(const LibAttr&) = delete;
    LibAttr& operator=(const LibAttr&) = delete;
    const TLIBATTR* operator->() const { return attributes_; }

private:
    ITypeLibPtr library_;
    TLIBATTR* attributes_ = nullptr;
};

/// Name, documentation string, help context and help file of one member of
/// `info` (MEMBERID_NIL: of the type itself); empty strings when absent.
struct Documentation {
    std::wstring name;
    std::wstring doc;
    DWORD helpContext = 0;
    std::wstring helpFile;
};
Documentation documentationOf(ITypeInfo* info, MEMBERID member);
/// The same for the library itself (index -1).
Documentation documentationOf(ITypeLib* library);

/// Most names (a method and its parameters) that namesOf reads.
constexpr UINT maxNames = 64;
/// The name of method `member` of `info` followed by its parameters' names.
std::vector<std::wstring> namesOf(ITypeInfo* info, MEMBERID member);

/// Loads the type library file `path` without registering it.
ITypeLibPtr loadTypeLib(const std::wstring& path);

/// The type information that implemented-interface slot `index` of `info` names.
ITypeInfoPtr implementedType(ITypeInfo* info, UINT index);

/// Rewrites each dispinterface of the type library file `path` (as
/// CreateTypeLib2 wrote it) to take IDispatch as its implicit base, as MIDL
/// writes it: no explicit base reference, a dispatch table of its own methods.
void useImplicitDispatchBase(const std::wstring& path);

/// A text of everything dravlo_tlbfix copies from `library`, one line per
/// library, type, implemented interface and method; stand-ins are left out
/// when `skipStandIns`. Two libraries with equal texts agree in all of it.
std::wstring describe(ITypeLib* library, bool skipStandIns);

}  // namespace TypeLibTools
