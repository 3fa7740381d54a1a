// The type library "DravloDriver" as LoadTypeLib reads it back from the built
// Dravlo.dll: library attributes, the type descriptions in order, and every
// event method with its DISPID, parameter names and types.

#include <gtest/gtest.h>

#include <comdef.h>

#include <string>
#include <vector>

#include "com/AxisDriver.h"
#include "com/DravloModule.h"
#include "tests/com/ModuleTestSupport.h"

namespace {

using ModuleTest::ITypeInfoPtr;
using ModuleTest::ITypeLibPtr;

struct Parameter {
    std::wstring name;
    VARTYPE type;
};
struct Method {
    DISPID id;
    std::wstring name;
    std::vector<Parameter> parameters;
};
struct Description {
    std::wstring name;
    TYPEKIND kind;
    GUID guid;
    std::vector<Method> methods;
};

Method twoInts(DISPID id, const wchar_t* name, const wchar_t* device, const wchar_t* second) {
    return {id, name, {{device, VT_I4}, {second, VT_I4}}};
}
Method error(const wchar_t* device) {
    return {5, L"Error", {{device, VT_I4}, {L"errorCode", VT_I4}, {L"errorInfo", VT_BSTR}}};
}

const std::vector<Description>& expected() {
    static const std::vector<Description> descriptions = {
        {L"_IAxisJoystickEvents",
         TKIND_DISPATCH,
         DIID__IAxisJoystickEvents,
         {twoInts(1, L"ButtonDown", L"joystickId", L"buttonIndex"),
          twoInts(2, L"ButtonUp", L"joystickId", L"buttonIndex"),
          {3, L"JoystickMove", {{L"joystickId", VT_I4}, {L"xValue", VT_I4}, {L"yValue", VT_I4}, {L"zValue", VT_I4}}},
          {4, L"StatusChange", {{L"joystickId", VT_I4}, {L"oldStatus", VT_I4}, {L"newStatus", VT_I4}}},
          error(L"joystickId")}},
        {L"_IAxisJogDialEvents",
         TKIND_DISPATCH,
         DIID__IAxisJogDialEvents,
         {twoInts(1, L"ButtonDown", L"jogDialId", L"buttonIndex"),
          twoInts(2, L"ButtonUp", L"jogDialId", L"buttonIndex"), twoInts(3, L"ShuttleMove", L"jogDialId", L"DialState"),
          twoInts(4, L"JogMove", L"jogDialId", L"joggState"), error(L"jogDialId")}},
        {L"_IAxisKeyPadEvents",
         TKIND_DISPATCH,
         DIID__IAxisKeyPadEvents,
         {twoInts(1, L"ButtonDown", L"keyPadId", L"buttonIndex"), twoInts(2, L"ButtonUp", L"keyPadId", L"buttonIndex"),
          error(L"keyPadId")}},
        {L"__Impl__IAxisJogDialEvents", TKIND_COCLASS, Dravlo::CLSID_ImplAxisJogDialEvents, {}},
        {L"__Impl__IAxisKeyPadEvents", TKIND_COCLASS, Dravlo::CLSID_ImplAxisKeyPadEvents, {}},
    };
    return descriptions;
}

// {00020430-0000-0000-C000-000000000046}
constexpr GUID LIBID_stdole = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/// The TYPEATTR of one type information, released on destruction.
class TypeAttributes {
public:
    explicit TypeAttributes(ITypeInfo* info) : info_(info) {
        if (FAILED(info_->GetTypeAttr(&attributes_))) attributes_ = nullptr;
    }
    ~TypeAttributes() {
        if (attributes_ != nullptr) info_->ReleaseTypeAttr(attributes_);
    }
    TypeAttributes(const TypeAttributes&) = delete;
    TypeAttributes& operator=(const TypeAttributes&) = delete;
    const TYPEATTR* operator->() const { return attributes_; }
    explicit operator bool() const { return attributes_ != nullptr; }

private:
    ITypeInfo* info_;
    TYPEATTR* attributes_ = nullptr;
};

std::wstring nameOf(ITypeInfo* info, MEMBERID member = MEMBERID_NIL) {
    BSTR name = nullptr;
    if (FAILED(info->GetDocumentation(member, &name, nullptr, nullptr, nullptr))) return L"?";
    return std::wstring(static_cast<const wchar_t*>(_bstr_t(name, false)));
}

/// The type information an implemented-interface slot refers to.
ITypeInfoPtr implemented(ITypeInfo* info, UINT index) {
    HREFTYPE reference = 0;
    ITypeInfoPtr target;
    if (SUCCEEDED(info->GetRefTypeOfImplType(index, &reference))) info->GetRefTypeInfo(reference, &target);
    return target;
}

/// Expects `info` to lie in stdole2.tlb, version 2.0.
void expectInStdole(ITypeInfo* info) {
    ITypeLibPtr container;
    UINT index = 0;
    ASSERT_EQ(S_OK, info->GetContainingTypeLib(&container, &index));
    TLIBATTR* imported = nullptr;
    ASSERT_EQ(S_OK, container->GetLibAttr(&imported));
    EXPECT_EQ(LIBID_stdole, imported->guid);
    EXPECT_EQ(2, imported->wMajorVerNum);
    EXPECT_EQ(0, imported->wMinorVerNum);
    container->ReleaseTLibAttr(imported);
}

class TypeLibReadBack : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, LoadTypeLib(ModuleTest::dravloDllPath().c_str(), &library)); }
    /// Every type information of the library, in order.
    std::vector<ITypeInfoPtr> described() {
        std::vector<ITypeInfoPtr> infos;
        for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
            ITypeInfoPtr info;
            library->GetTypeInfo(i, &info);
            infos.push_back(info);
        }
        return infos;
    }
    void expectMethods(ITypeInfo* info, const Description& description);

    ITypeLibPtr library;
};

TEST_F(TypeLibReadBack, LibraryAttributes_AreDravloDriver10Us64Bit) {
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    EXPECT_EQ(Dravlo::LIBID_DravloDriver, attributes->guid);
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    EXPECT_EQ(0x0409u, attributes->lcid);
    EXPECT_EQ(SYS_WIN64, attributes->syskind);
    // The loader itself reports libraries read from a file as having a disk image.
    EXPECT_EQ(0, attributes->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
    library->ReleaseTLibAttr(attributes);

    BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
    DWORD helpContext = 1;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, &doc, &helpContext, &helpFile));
    EXPECT_STREQ(L"DravloDriver", name);
    EXPECT_EQ(nullptr, doc);
    EXPECT_EQ(nullptr, helpFile);
    EXPECT_EQ(0u, helpContext);
    SysFreeString(name);
    SysFreeString(doc);
    SysFreeString(helpFile);
}

TEST_F(TypeLibReadBack, Descriptions_AreTheFiveInOrder) {
    std::vector<ITypeInfoPtr> infos = described();
    ASSERT_EQ(expected().size(), infos.size());
    for (std::size_t i = 0; i < infos.size(); ++i) {
        TypeAttributes attributes(infos[i]);
        ASSERT_TRUE(attributes);
        EXPECT_EQ(expected()[i].name, nameOf(infos[i])) << "at " << i;
        EXPECT_EQ(expected()[i].kind, attributes->typekind) << "at " << i;
        EXPECT_EQ(expected()[i].guid, attributes->guid) << "at " << i;
    }
}

// IUnknown and IDispatch are referenced in stdole2, never described here.
TEST_F(TypeLibReadBack, StdoleInterfaces_AreNotDescribedInTheLibrary) {
    EXPECT_EQ(expected().size(), library->GetTypeInfoCount());
    for (const GUID* iid : {&IID_IUnknown, &IID_IDispatch}) {
        ITypeInfoPtr info;
        EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, library->GetTypeInfoOfGuid(*iid, &info));
    }
}

void TypeLibReadBack::expectMethods(ITypeInfo* info, const Description& description) {
    TypeAttributes attributes(info);
    ASSERT_EQ(description.methods.size(), static_cast<std::size_t>(attributes->cFuncs));
    EXPECT_EQ(0, attributes->cVars);
    for (UINT f = 0; f < attributes->cFuncs; ++f) {
        const Method& method = description.methods[f];
        FUNCDESC* function = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(f, &function));
        EXPECT_EQ(method.id, function->memid) << method.name;
        EXPECT_EQ(FUNC_DISPATCH, function->funckind) << method.name;
        EXPECT_EQ(INVOKE_FUNC, function->invkind) << method.name;
        EXPECT_EQ(VT_VOID, function->elemdescFunc.tdesc.vt) << method.name;
        EXPECT_EQ(0, function->cParamsOpt) << method.name;
        EXPECT_EQ(0, function->wFuncFlags) << method.name;
        ASSERT_EQ(method.parameters.size(), static_cast<std::size_t>(function->cParams)) << method.name;
        BSTR names[8] = {};
        UINT count = 0;
        ASSERT_EQ(S_OK, info->GetNames(function->memid, names, 8, &count));
        ASSERT_EQ(method.parameters.size() + 1, count) << method.name;
        EXPECT_STREQ(method.name.c_str(), names[0]);
        for (std::size_t p = 0; p < method.parameters.size(); ++p) {
            const ELEMDESC& element = function->lprgelemdescParam[p];
            EXPECT_STREQ(method.parameters[p].name.c_str(), names[p + 1]) << method.name;
            EXPECT_EQ(method.parameters[p].type, element.tdesc.vt) << method.name << " " << method.parameters[p].name;
            EXPECT_EQ(PARAMFLAG_FIN, element.paramdesc.wParamFlags) << method.name;
        }
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        info->ReleaseFuncDesc(function);
    }
}

TEST_F(TypeLibReadBack, Dispinterfaces_AreDispatchOnlyEventsDerivedFromStdoleIDispatch) {
    std::vector<ITypeInfoPtr> infos = described();
    ASSERT_EQ(expected().size(), infos.size());
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(expected()[i].name);
        TypeAttributes attributes(infos[i]);
        EXPECT_EQ(TYPEFLAG_FDISPATCHABLE, attributes->wTypeFlags);
        EXPECT_EQ(0, attributes->wMajorVerNum);
        EXPECT_EQ(0, attributes->wMinorVerNum);
        ASSERT_EQ(1, attributes->cImplTypes);
        ITypeInfoPtr base = implemented(infos[i], 0);
        ASSERT_TRUE(base);
        EXPECT_EQ(L"IDispatch", nameOf(base));
        expectInStdole(base);
        expectMethods(infos[i], expected()[i]);
    }
}

TEST_F(TypeLibReadBack, Coclasses_AreNotCreatable_WithDefaultInterfaceIUnknown) {
    std::vector<ITypeInfoPtr> infos = described();
    ASSERT_EQ(expected().size(), infos.size());
    for (std::size_t i = 3; i < 5; ++i) {
        SCOPED_TRACE(expected()[i].name);
        TypeAttributes attributes(infos[i]);
        EXPECT_EQ(0, attributes->wTypeFlags);
        EXPECT_EQ(1, attributes->wMajorVerNum);
        EXPECT_EQ(0, attributes->wMinorVerNum);
        ASSERT_EQ(1, attributes->cImplTypes);
        INT flags = 0;
        ASSERT_EQ(S_OK, infos[i]->GetImplTypeFlags(0, &flags));
        EXPECT_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
        ITypeInfoPtr target = implemented(infos[i], 0);
        ASSERT_TRUE(target);
        TypeAttributes targetAttributes(target);
        EXPECT_EQ(IID_IUnknown, targetAttributes->guid);
        EXPECT_EQ(L"IUnknown", nameOf(target));
        expectInStdole(target);
    }
}

TEST_F(TypeLibReadBack, EventInterfaces_AreFoundByTheirDiids) {
    for (const GUID* diid : {&DIID__IAxisJoystickEvents, &DIID__IAxisJogDialEvents, &DIID__IAxisKeyPadEvents}) {
        ITypeInfoPtr info;
        EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(*diid, &info));
    }
}

}  // namespace
