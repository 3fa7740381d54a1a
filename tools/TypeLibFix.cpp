// dravlo_tlbfix IN.tlb OUT.tlb COUNT [--print]
//
// Build tool, run under the cross-compiling emulator: rewrites the type library
// that widl compiled from DravloDriver.idl so that it references IUnknown and
// IDispatch in stdole2.tlb instead of describing them itself. widl writes every
// interface a coclass names into the library, so the sink classes' default
// interface arrives as a local IUnknown stand-in; an import reference is what
// the library should hold. The tool copies the library attributes and every
// dispinterface and coclass in order through CreateTypeLib2, leaves the
// stand-ins out, records the dispinterfaces' IDispatch base as MIDL does
// (TypeLibFile.cpp), then loads the result back and fails unless it holds exactly
// COUNT type descriptions, equal to the input's, with every reference to
// IUnknown or IDispatch pointing into stdole2. Anything it cannot copy
// faithfully (other type kinds, properties, user-defined parameter types,
// default values) stops it with a message instead of being lost.

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/TypeLibTools.h"

namespace {

using namespace TypeLibTools;

// {00020430-0000-0000-C000-000000000046}
constexpr GUID LIBID_stdole2 = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// CoInitialize for the tool's single thread, undone on destruction.
class ComApartment {
public:
    ComApartment() { check(CoInitialize(nullptr), "CoInitialize"); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

/// Writes one library into a new file, type by type.
class Copier {
public:
    explicit Copier(ITypeLib* stdole) : stdole_(stdole) {}
    /// Creates `target` with `source`'s attributes and types, stand-ins left out.
    void copy(ITypeLib* source, const std::wstring& target);

private:
    void copyType(ITypeInfo* source);
    void copyImplemented(ITypeInfo* source, ICreateTypeInfo* target, UINT index);
    void copyFunction(ITypeInfo* source, ICreateTypeInfo* target, UINT index);
    ITypeInfoPtr stdoleTypeFor(ITypeInfo* referenced);

    ITypeLibPtr stdole_;
    ICreateTypeLib2Ptr creator_;
};

void Copier::copy(ITypeLib* source, const std::wstring& target) {
    LibAttr attributes(source);
    DeleteFileW(target.c_str());
    check(CreateTypeLib2(attributes->syskind, target.c_str(), &creator_), "CreateTypeLib2(" + narrow(target) + ")");
    Documentation documentation = documentationOf(source);
    check(creator_->SetName(const_cast<LPOLESTR>(documentation.name.c_str())), "SetName");
    check(creator_->SetGuid(attributes->guid), "SetGuid");
    check(creator_->SetVersion(attributes->wMajorVerNum, attributes->wMinorVerNum), "SetVersion");
    check(creator_->SetLcid(attributes->lcid), "SetLcid");
    check(creator_->SetLibFlags(attributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE), "SetLibFlags");
    if (!documentation.doc.empty()) check(creator_->SetDocString(documentation.doc.data()), "SetDocString");
    if (!documentation.helpFile.empty()) {
        check(creator_->SetHelpFileName(documentation.helpFile.data()), "SetHelpFileName");
    }
    if (documentation.helpContext != 0) check(creator_->SetHelpContext(documentation.helpContext), "SetHelpContext");
    for (UINT i = 0; i < source->GetTypeInfoCount(); ++i) {
        ITypeInfoPtr info;
        check(source->GetTypeInfo(i, &info), "GetTypeInfo");
        if (!isStandIn(*TypeAttr(info))) copyType(info);
    }
    check(creator_->SaveAllChanges(), "SaveAllChanges");
}

void Copier::copyType(ITypeInfo* source) {
    TypeAttr attributes(source);
    Documentation documentation = documentationOf(source, MEMBERID_NIL);
    const std::string name = narrow(documentation.name);
    if (attributes->typekind != TKIND_DISPATCH && attributes->typekind != TKIND_COCLASS) {
        throw Failure(name + ": only dispinterfaces and coclasses can be copied");
    }
    if (attributes->cVars != 0) throw Failure(name + ": properties cannot be copied");
    ICreateTypeInfoPtr target;
    check(creator_->CreateTypeInfo(documentation.name.data(), attributes->typekind, &target),
          name + ": CreateTypeInfo");
    check(target->SetGuid(attributes->guid), name + ": SetGuid");
    check(target->SetVersion(attributes->wMajorVerNum, attributes->wMinorVerNum), name + ": SetVersion");
    check(target->SetTypeFlags(attributes->wTypeFlags), name + ": SetTypeFlags");
    check(target->SetAlignment(attributes->cbAlignment), name + ": SetAlignment");
    if (!documentation.doc.empty()) check(target->SetDocString(documentation.doc.data()), name + ": SetDocString");
    if (documentation.helpContext != 0) {
        check(target->SetHelpContext(documentation.helpContext), name + ": SetHelpContext");
    }
    for (UINT i = 0; i < attributes->cImplTypes; ++i) copyImplemented(source, target, i);
    for (UINT f = 0; f < attributes->cFuncs; ++f) copyFunction(source, target, f);
    check(target->LayOut(), name + ": LayOut");
}

ITypeInfoPtr Copier::stdoleTypeFor(ITypeInfo* referenced) {
    TypeAttr attributes(referenced);
    if (!IsEqualGUID(attributes->guid, IID_IUnknown) && !IsEqualGUID(attributes->guid, IID_IDispatch)) {
        throw Failure("reference to " + narrow(documentationOf(referenced, MEMBERID_NIL).name) +
                      ": only IUnknown and IDispatch can be referenced");
    }
    ITypeInfoPtr replacement;
    check(stdole_->GetTypeInfoOfGuid(attributes->guid, &replacement), "stdole2 GetTypeInfoOfGuid");
    return replacement;
}

void Copier::copyImplemented(ITypeInfo* source, ICreateTypeInfo* target, UINT index) {
    ITypeInfoPtr replacement = stdoleTypeFor(implementedType(source, index));
    HREFTYPE reference = 0;
    check(target->AddRefTypeInfo(replacement, &reference), "AddRefTypeInfo");
    check(target->AddImplType(index, reference), "AddImplType");
    INT flags = 0;
    check(source->GetImplTypeFlags(index, &flags), "GetImplTypeFlags");
    // Only coclasses take flags; a dispinterface's base has none to set.
    if (flags != 0) check(target->SetImplTypeFlags(index, flags), "SetImplTypeFlags");
}

/// True for a type that needs nothing outside the element itself.
bool isPlain(const ELEMDESC& element) {
    const VARTYPE vt = element.tdesc.vt;
    return vt != VT_PTR && vt != VT_SAFEARRAY && vt != VT_CARRAY && vt != VT_USERDEFINED &&
           (element.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) == 0;
}

void Copier::copyFunction(ITypeInfo* source, ICreateTypeInfo* target, UINT index) {
    FuncDesc function(source, index);
    std::vector<ELEMDESC> parameters(function->lprgelemdescParam, function->lprgelemdescParam + function->cParams);
    const std::vector<std::wstring> names = namesOf(source, function->memid);
    std::vector<LPOLESTR> namePointers;
    for (const std::wstring& each : names) namePointers.push_back(const_cast<LPOLESTR>(each.c_str()));
    const std::string name = names.empty() ? "?" : narrow(names[0]);
    if (!isPlain(function->elemdescFunc)) throw Failure(name + ": its result type cannot be copied");
    for (const ELEMDESC& parameter : parameters) {
        if (!isPlain(parameter)) throw Failure(name + ": a parameter type or default cannot be copied");
    }
    FUNCDESC copy = *function;
    copy.lprgelemdescParam = parameters.data();
    check(target->AddFuncDesc(index, &copy), name + ": AddFuncDesc");
    check(target->SetFuncAndParamNames(index, namePointers.data(), static_cast<UINT>(namePointers.size())),
          name + ": SetFuncAndParamNames");
    Documentation documentation = documentationOf(source, function->memid);
    if (!documentation.doc.empty()) {
        check(target->SetFuncDocString(index, documentation.doc.data()), name + ": SetFuncDocString");
    }
    if (documentation.helpContext != 0) {
        check(target->SetFuncHelpContext(index, documentation.helpContext), name + ": SetFuncHelpContext");
    }
}

/// Fails unless every implemented interface of `library` lies in stdole2.
void checkReferencesIntoStdole(ITypeLib* library) {
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ITypeInfoPtr info;
        check(library->GetTypeInfo(i, &info), "GetTypeInfo");
        TypeAttr attributes(info);
        for (UINT r = 0; r < attributes->cImplTypes; ++r) {
            ITypeLibPtr container;
            UINT position = 0;
            check(implementedType(info, r)->GetContainingTypeLib(&container, &position), "GetContainingTypeLib");
            if (!IsEqualGUID(LibAttr(container)->guid, LIBID_stdole2)) {
                throw Failure("type " + std::to_string(i) + " references an interface outside stdole2");
            }
        }
    }
}

/// Loads `written` back and fails unless it says what `source` says.
void verify(ITypeLib* source, const std::wstring& written, UINT expectedCount) {
    ITypeLibPtr result = loadTypeLib(written);
    const std::wstring expected = describe(source, true);
    const std::wstring actual = describe(result, false);
    if (actual != expected) {
        std::fwprintf(stderr, L"expected:\n%ls\nwritten:\n%ls\n", expected.c_str(), actual.c_str());
        throw Failure("the written type library differs from its source");
    }
    if (result->GetTypeInfoCount() != expectedCount) {
        throw Failure("the written type library holds " + std::to_string(result->GetTypeInfoCount()) +
                      " type descriptions, not " + std::to_string(expectedCount));
    }
    checkReferencesIntoStdole(result);
}

std::wstring fullPath(const char* argument) {
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, argument, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, argument, -1, wide.data(), static_cast<int>(wide.size()));
    wchar_t full[MAX_PATH] = {};
    if (GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr) == 0)
        throw Failure("bad path " + std::string(argument));
    return full;
}

int run(int argc, char** argv) {
    if (argc < 4 || (argc == 5 && std::string(argv[4]) != "--print") || argc > 5) {
        std::fprintf(stderr, "usage: dravlo_tlbfix IN.tlb OUT.tlb COUNT [--print]\n");
        return 2;
    }
    const std::wstring input = fullPath(argv[1]), output = fullPath(argv[2]);
    const UINT expectedCount = static_cast<UINT>(std::strtoul(argv[3], nullptr, 10));
    ComApartment apartment;
    ITypeLibPtr source = loadTypeLib(input);
    ITypeLibPtr stdole = loadTypeLib(L"stdole2.tlb");
    try {
        Copier(stdole).copy(source, output);
        useImplicitDispatchBase(output);
        verify(source, output, expectedCount);
    } catch (...) {
        DeleteFileW(output.c_str());  // no half-made library for the next build step to take
        throw;
    }
    if (argc == 5) std::fwprintf(stdout, L"%ls", describe(loadTypeLib(output), false).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "dravlo_tlbfix: %s\n", failure.what());
    } catch (const _com_error& failure) {
        std::fprintf(stderr, "dravlo_tlbfix: COM error 0x%08lX\n", static_cast<unsigned long>(failure.Error()));
    }
    return 1;
}
