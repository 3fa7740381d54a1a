// The COM server module: the entry point accepting the load, the built DLL's
// class objects, the lock count behind DllCanUnloadNow, and the path rules of
// loading the library's own type library. Nothing here touches the registry.

#include <gtest/gtest.h>

#include <ole2.h>
#include <olectl.h>
#include <comdef.h>

#include <string>

#include "com/DravloModule.h"
#include "com/Registration.h"
#include "tests/com/ModuleTestSupport.h"

// The entry point of the module code linked into this program.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

using ModuleTest::ITypeInfoPtr;
using ModuleTest::ITypeLibPtr;

using ModuleTest::LoadedLibrary;
using ModuleTest::ScratchDirectory;

void* const sentinel = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0xdeadbeef));

TEST(EntryPoint, ModuleOfThisProgram_InitialisedAndAcceptsTheLoad) {
    EXPECT_FALSE(Dravlo::CAtlModule::InitFailed());
    EXPECT_EQ(TRUE, DllMain(GetModuleHandleW(nullptr), DLL_PROCESS_ATTACH, nullptr));
    ASSERT_NE(nullptr, Dravlo::currentModule());
    EXPECT_EQ(Dravlo::moduleInstance(), Dravlo::currentModule()->GetModuleInstance());
}

TEST(EntryPoint, UnloadedCopy_GivesBackItsThreadSlots) {
    ScratchDirectory scratch;
    const std::wstring copy = ModuleTest::copyInto(scratch.path() + L"\\copy", L"Dravlo.dll");
    const auto firstFreeSlot = [] {
        const DWORD index = TlsAlloc();
        TlsFree(index);
        return index;
    };
    const DWORD before = firstFreeSlot();
    for (int load = 0; load < 2; ++load) {
        LoadedLibrary dll(copy);
        ASSERT_NE(nullptr, dll.get());
        EXPECT_NE(before, firstFreeSlot()) << "the library took no slot";
    }
    EXPECT_EQ(before, firstFreeSlot());
}

/// The built Dravlo.dll, loaded into this process.
class LoadedDravlo : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, dll.get()); }
    LoadedLibrary dll{ModuleTest::dravloDllPath()};
};

TEST_F(LoadedDravlo, DllGetClassObject_ServesNoClass) {
    auto getClassObject = dll.entry<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    ASSERT_NE(nullptr, getClassObject);
    CLSID random{};
    ASSERT_EQ(S_OK, CoCreateGuid(&random));
    const CLSID* const clsids[] = {&Dravlo::CLSID_ImplAxisJogDialEvents, &Dravlo::CLSID_ImplAxisKeyPadEvents, &random};
    for (const CLSID* clsid : clsids) {
        void* object = sentinel;
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(*clsid, IID_IClassFactory, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(E_POINTER, getClassObject(random, IID_IClassFactory, nullptr));
}

TEST_F(LoadedDravlo, DllCanUnloadNow_WithoutSinks) {
    auto canUnloadNow = dll.entry<ModuleTest::EntryPoint>("DllCanUnloadNow");
    ASSERT_NE(nullptr, canUnloadNow);
    EXPECT_EQ(S_OK, canUnloadNow());
}

TEST(ModuleLock, DllCanUnloadNow_FollowsTheLockCount) {
    Dravlo::CAtlModule* module = Dravlo::currentModule();
    ASSERT_NE(nullptr, module);
    ASSERT_EQ(0, module->GetLockCount());
    EXPECT_EQ(S_OK, DllCanUnloadNow());
    EXPECT_EQ(1, module->Lock());
    EXPECT_EQ(2, module->Lock());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    EXPECT_EQ(1, module->Unlock());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    EXPECT_EQ(0, module->Unlock());
    EXPECT_EQ(S_OK, DllCanUnloadNow());
}

TEST(HelpDirectory, IsCutAfterTheLastSlashColonOrBackslash) {
    EXPECT_EQ(std::wstring(L"C:\\help\\").size(), Dravlo::helpDirectoryLength(L"C:\\help\\dravlo.hlp"));
    EXPECT_EQ(std::wstring(L"C:\\a/b/").size(), Dravlo::helpDirectoryLength(L"C:\\a/b/x.chm"));
    EXPECT_EQ(2u, Dravlo::helpDirectoryLength(L"C:dravlo.hlp"));
    EXPECT_EQ(0u, Dravlo::helpDirectoryLength(L"dravlo.hlp"));
    EXPECT_EQ(0u, Dravlo::helpDirectoryLength(L""));
    // Only the first MAX_PATH characters are looked at.
    std::wstring longName = L"C:\\" + std::wstring(MAX_PATH, L'h') + L"\\dravlo.hlp";
    EXPECT_EQ(3u, Dravlo::helpDirectoryLength(longName.c_str()));
}

TEST(ModuleFileName, IsTheModulesName_OrTheLoaderError) {
    wchar_t name[MAX_PATH];
    ASSERT_EQ(S_OK, Dravlo::moduleFileName(Dravlo::moduleInstance(), name));
    wchar_t expected[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, expected, MAX_PATH));
    EXPECT_STREQ(expected, name);

    HINSTANCE notAModule = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x10000));
    HRESULT hr = Dravlo::moduleFileName(notAModule, name);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(HRESULT_FROM_WIN32(GetLastError()), hr);

    // A name that fills the buffer comes back cut (unterminated, on older Windows).
    ScratchDirectory scratch;
    LoadedLibrary filling(ModuleTest::copyToPathOfLength(scratch.path(), MAX_PATH));
    ASSERT_NE(nullptr, filling.get());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), Dravlo::moduleFileName(filling.get(), name));
}

TEST(ModuleFileName, FolderNamedInAnyScript_ComesBackExactly) {
    ScratchDirectory scratch;
    for (const wchar_t* folder : ModuleTest::userFolders) {
        const std::wstring copy = ModuleTest::copyInto(scratch.path() + L"\\" + folder, L"Dravlo.dll");
        SCOPED_TRACE(copy);
        LoadedLibrary dll(copy);
        ASSERT_NE(nullptr, dll.get());
        wchar_t name[MAX_PATH];
        ASSERT_EQ(S_OK, Dravlo::moduleFileName(dll.get(), name));
        EXPECT_EQ(copy, name);
    }
}

/// A scratch directory with a dot in its own name, holding "lib.tlb".
class TypeLibNear : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
        ModuleTest::writeEmbeddedTypeLib(ModuleTest::dravloDllPath(), directory + L"\\lib.tlb");
    }
    /// loadTypeLibNear on `name`; the path that worked, or "" on failure.
    std::wstring load(const std::wstring& name, HRESULT& hr) {
        ITypeLib* library = sentinelLibrary();
        BSTR path = reinterpret_cast<BSTR>(sentinel);
        hr = Dravlo::loadTypeLibNear(name.c_str(), &library, &path);
        std::wstring result = path != nullptr ? path : L"";
        if (SUCCEEDED(hr)) {
            EXPECT_NE(nullptr, library);
            library->Release();
            SysFreeString(path);
        } else {
            EXPECT_EQ(nullptr, library);
            EXPECT_EQ(nullptr, path);
            result.clear();
        }
        return result;
    }
    static ITypeLib* sentinelLibrary() { return static_cast<ITypeLib*>(sentinel); }

    ScratchDirectory scratch;
    std::wstring directory = scratch.path() + L"\\with.dot";
};

TEST_F(TypeLibNear, LibraryWithTypeLib_LoadsFromTheLibraryItself) {
    HRESULT hr = E_FAIL;
    std::wstring dll = ModuleTest::dravloDllPath();
    EXPECT_EQ(dll, load(dll, hr));
    EXPECT_EQ(S_OK, hr);
}

TEST_F(TypeLibNear, ExtensionIsReplaced_OrAppended) {
    HRESULT hr = E_FAIL;
    EXPECT_EQ(directory + L"\\lib.tlb", load(directory + L"\\lib.dll", hr));
    EXPECT_EQ(S_OK, hr);
    // No dot after the last backslash: ".tlb" is appended, the directory's dot untouched.
    EXPECT_EQ(directory + L"\\lib.tlb", load(directory + L"\\lib", hr));
    EXPECT_EQ(S_OK, hr);
}

TEST_F(TypeLibNear, NeitherLoadable_ReturnsTheSecondFailure) {
    std::wstring tlb = directory + L"\\other.tlb";
    ITypeLibPtr direct;
    HRESULT expected = LoadTypeLib(tlb.c_str(), &direct);
    ASSERT_TRUE(FAILED(expected));
    HRESULT hr = S_OK;
    EXPECT_EQ(L"", load(directory + L"\\other.dll", hr));
    EXPECT_EQ(expected, hr);
}

}  // namespace
