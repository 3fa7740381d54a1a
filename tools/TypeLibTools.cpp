// Helpers of dravlo_tlbfix, and the text by which it compares the library it
// wrote with the one it read.

#include "tools/TypeLibTools.h"

#include <cstdio>
#include <sstream>

namespace TypeLibTools {

void check(HRESULT hr, const std::string& what) {
    if (SUCCEEDED(hr)) return;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    throw Failure(what + " failed with " + code);
}

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::string narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) result += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
    return result;
}

bool isStandIn(const TYPEATTR& attributes) {
    return attributes.typekind == TKIND_INTERFACE &&
           (IsEqualGUID(attributes.guid, IID_IUnknown) || IsEqualGUID(attributes.guid, IID_IDispatch));
}

TypeAttr::TypeAttr(ITypeInfo* info) : info_(info) { check(info->GetTypeAttr(&attributes_), "GetTypeAttr"); }

FuncDesc::FuncDesc(ITypeInfo* info, UINT index) : info_(info) {
    check(info->GetFuncDesc(index, &function_), "GetFuncDesc");
}

LibAttr::LibAttr(ITypeLib* library) : library_(library) { check(library->GetLibAttr(&attributes_), "GetLibAttr"); }

namespace {

std::wstring take(BSTR text) {
    std::wstring result = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return result;
}

}  // namespace

Documentation documentationOf(ITypeInfo* info, MEMBERID member) {
    BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
    Documentation result;
    check(info->GetDocumentation(member, &name, &doc, &result.helpContext, &helpFile), "ITypeInfo::GetDocumentation");
    result.name = take(name);
    result.doc = take(doc);
    result.helpFile = take(helpFile);
    return result;
}

Documentation documentationOf(ITypeLib* library) {
    BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
    Documentation result;
    check(library->GetDocumentation(-1, &name, &doc, &result.helpContext, &helpFile), "ITypeLib::GetDocumentation");
    result.name = take(name);
    result.doc = take(doc);
    result.helpFile = take(helpFile);
    return result;
}

std::vector<std::wstring> namesOf(ITypeInfo* info, MEMBERID member) {
    BSTR names[maxNames] = {};
    UINT count = 0;
    check(info->GetNames(member, names, maxNames, &count), "GetNames");
    std::vector<std::wstring> result;
    for (UINT n = 0; n < count; ++n) result.push_back(take(names[n]));  // frees each name
    return result;
}

ITypeLibPtr loadTypeLib(const std::wstring& path) {
    ITypeLibPtr library;
    check(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library), "LoadTypeLibEx(" + narrow(path) + ")");
    return library;
}

ITypeInfoPtr implementedType(ITypeInfo* info, UINT index) {
    HREFTYPE reference = 0;
    check(info->GetRefTypeOfImplType(index, &reference), "GetRefTypeOfImplType");
    ITypeInfoPtr target;
    check(info->GetRefTypeInfo(reference, &target), "GetRefTypeInfo");
    return target;
}

namespace {

void describeElement(std::wostringstream& out, const ELEMDESC& element) {
    out << L"vt " << element.tdesc.vt << L" paramflags 0x" << std::hex << element.paramdesc.wParamFlags << std::dec;
}

void describeFunction(std::wostringstream& out, ITypeInfo* info, UINT index) {
    FuncDesc function(info, index);
    const std::vector<std::wstring> names = namesOf(info, function->memid);
    Documentation documentation = documentationOf(info, function->memid);
    out << L"  method " << index << L" " << (names.empty() ? L"?" : names[0]) << L": memid " << function->memid
        << L" funckind " << function->funckind << L" invkind " << function->invkind << L" callconv "
        << function->callconv << L" funcflags 0x" << std::hex << function->wFuncFlags << std::dec << L" optional "
        << function->cParamsOpt << L" scodes " << function->cScodes << L" doc \"" << documentation.doc << L"\" context "
        << documentation.helpContext << L" result ";
    describeElement(out, function->elemdescFunc);
    out << L"\n";
    for (SHORT p = 0; p < function->cParams; ++p) {
        const std::size_t n = static_cast<std::size_t>(p) + 1;
        out << L"    parameter " << p << L" " << (n < names.size() ? names[n] : L"?") << L": ";
        describeElement(out, function->lprgelemdescParam[p]);
        out << L"\n";
    }
}

void describeImplemented(std::wostringstream& out, ITypeInfo* info, UINT index) {
    INT flags = 0;
    check(info->GetImplTypeFlags(index, &flags), "GetImplTypeFlags");
    ITypeInfoPtr target = implementedType(info, index);
    TypeAttr attributes(target);
    out << L"  implements " << index << L" " << documentationOf(target, MEMBERID_NIL).name << L" "
        << guidText(attributes->guid) << L" impltypeflags 0x" << std::hex << flags << std::dec << L"\n";
}

void describeType(std::wostringstream& out, ITypeInfo* info, UINT index) {
    TypeAttr attributes(info);
    Documentation documentation = documentationOf(info, MEMBERID_NIL);
    out << L"type " << index << L" " << documentation.name << L": typekind " << attributes->typekind << L" "
        << guidText(attributes->guid) << L" version " << attributes->wMajorVerNum << L"." << attributes->wMinorVerNum
        << L" typeflags 0x" << std::hex << attributes->wTypeFlags << std::dec << L" funcs " << attributes->cFuncs
        << L" vars " << attributes->cVars << L" impltypes " << attributes->cImplTypes << L" vft "
        << attributes->cbSizeVft << L" instance " << attributes->cbSizeInstance << L" alignment "
        << attributes->cbAlignment << L" idlflags 0x" << std::hex << attributes->idldescType.wIDLFlags << std::dec
        << L" doc \"" << documentation.doc << L"\" context " << documentation.helpContext << L"\n";
    for (UINT i = 0; i < attributes->cImplTypes; ++i) describeImplemented(out, info, i);
    for (UINT f = 0; f < attributes->cFuncs; ++f) describeFunction(out, info, f);
}

}  // namespace

std::wstring describe(ITypeLib* library, bool skipStandIns) {
    std::wostringstream out;
    LibAttr attributes(library);
    Documentation documentation = documentationOf(library);
    out << L"library " << documentation.name << L" " << guidText(attributes->guid) << L" version "
        << attributes->wMajorVerNum << L"." << attributes->wMinorVerNum << L" lcid 0x" << std::hex << attributes->lcid
        << L" libflags 0x" << (attributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE) << std::dec << L" syskind "
        << attributes->syskind << L" doc \"" << documentation.doc << L"\" helpfile \"" << documentation.helpFile
        << L"\" context " << documentation.helpContext << L"\n";
    UINT written = 0;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ITypeInfoPtr info;
        check(library->GetTypeInfo(i, &info), "GetTypeInfo");
        if (skipStandIns && isStandIn(*TypeAttr(info))) continue;
        describeType(out, info, written++);
    }
    return out.str();
}

}  // namespace TypeLibTools
