// Self-registration of the built Dravlo.dll and of copies of it, through its
// exports and through regsvr32. These tests change the prefix's registry and
// run serially; each leaves the keys it may create removed.

#include <gtest/gtest.h>

#include <comdef.h>
#include <sddl.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "com/AxisDriver.h"
#include "com/DravloModule.h"
#include "com/Registration.h"
#include "tests/com/ModuleTestSupport.h"

namespace {

using ModuleTest::ITypeInfoPtr;
using ModuleTest::ITypeLibPtr;

using ModuleTest::classesKeyDefault;
using ModuleTest::classesKeyExists;
using ModuleTest::dravloDllPath;
using ModuleTest::EntryPoint;
using ModuleTest::exportedClassesKey;
using ModuleTest::guidString;
using ModuleTest::LoadedLibrary;
using ModuleTest::runAndWait;
using ModuleTest::ScratchDirectory;

const GUID* const eventInterfaces[] = {&DIID__IAxisJoystickEvents, &DIID__IAxisJogDialEvents, &DIID__IAxisKeyPadEvents};
const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

std::wstring typeLibKey() { return L"TypeLib\\" + guidString(Dravlo::LIBID_DravloDriver); }
std::wstring interfaceKey(REFIID iid) { return L"Interface\\" + guidString(iid); }
/// The file registered for DravloDriver 1.0, US English, 64-bit; "" when none.
std::wstring registeredFile() { return classesKeyDefault(typeLibKey() + L"\\1.0\\409\\win64"); }

/// A library's two registration entry points.
struct Registrar {
    explicit Registrar(const std::wstring& path) : dll(path) {}
    HRESULT registerServer() const { return dll.entry<EntryPoint>("DllRegisterServer")(); }
    HRESULT unregisterServer() const { return dll.entry<EntryPoint>("DllUnregisterServer")(); }
    LoadedLibrary dll;
};

class Registration : public ::testing::Test {
protected:
    void SetUp() override { removeKeys(); }
    void TearDown() override { removeKeys(); }
    static void removeKeys() {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, typeLibKey().c_str());
        for (REGSAM view : views) {
            HKEY interfaces = nullptr;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Interface", 0, KEY_ALL_ACCESS | view, &interfaces) != ERROR_SUCCESS)
                continue;
            for (const GUID* iid : eventInterfaces) {
                deleteLink(interfaces, guidString(*iid) + L"\\loop");  // RegDeleteTreeW would follow it round
                RegDeleteTreeW(interfaces, guidString(*iid).c_str());
            }
            RegCloseKey(interfaces);
        }
    }
    /// Deletes the registry link `name` of `parent` itself, not what it leads to.
    static void deleteLink(HKEY parent, const std::wstring& name) {
        HKEY link = nullptr;
        if (RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, DELETE, &link) != ERROR_SUCCESS) return;
        RegDeleteKeyW(link, L"");
        RegCloseKey(link);
    }
    static void expectNothingRegistered() {
        EXPECT_FALSE(classesKeyExists(typeLibKey()));
        for (REGSAM view : views)
            for (const GUID* iid : eventInterfaces) EXPECT_FALSE(classesKeyExists(interfaceKey(*iid), view));
    }
};

TEST_F(Registration, RegisterThenUnregister_LeavesNoRegistration) {
    const bool systemUnknownKey = classesKeyExists(interfaceKey(IID_IUnknown));
    Registrar dravlo(dravloDllPath());
    ASSERT_NE(nullptr, dravlo.dll.get());
    ASSERT_EQ(S_OK, dravlo.registerServer());
    EXPECT_EQ(dravloDllPath(), registeredFile());
    for (const GUID* iid : eventInterfaces) {
        EXPECT_EQ(guidString(Dravlo::LIBID_DravloDriver), classesKeyDefault(interfaceKey(*iid) + L"\\TypeLib"));
    }
    // IUnknown, which the type library references in stdole2, is never registered as its own.
    EXPECT_NE(guidString(Dravlo::LIBID_DravloDriver), classesKeyDefault(interfaceKey(IID_IUnknown) + L"\\TypeLib"));

    ASSERT_EQ(S_OK, dravlo.unregisterServer());
    expectNothingRegistered();
    EXPECT_EQ(systemUnknownKey, classesKeyExists(interfaceKey(IID_IUnknown)));
}

/// The Axis driver's keys for its event interfaces, in both registry views,
/// as its own setup writes them: its own type library, a proxy, a value. The
/// keypad's key has no name and its TypeLib no version, both of which
/// RegisterTypeLib writes.
class RegistrationBesideTheDriver : public Registration {
protected:
    void SetUp() override {
        Registration::SetUp();
        std::string driverKeys = "Windows Registry Editor Version 5.00\r\n";
        for (const GUID* iid : {&DIID__IAxisJogDialEvents, &DIID__IAxisKeyPadEvents}) {
            const bool named = iid == &DIID__IAxisJogDialEvents;
            const std::wstring wide = L"[HKEY_CLASSES_ROOT\\" + interfaceKey(*iid);
            const std::string key(wide.begin(), wide.end());
            driverKeys += "\r\n" + key + "]\r\n" + (named ? "@=\"Axis driver events\"\r\n" : "") +
                          "\"Installer\"=dword:00000007\r\n\r\n" + key +
                          "\\TypeLib]\r\n@=\"{0D5C2E66-7F43-4C4B-9A3A-1C2B3D4E5F60}\"\r\n" +
                          (named ? "\"Version\"=\"3.2\"\r\n" : "") + "\r\n" + key +
                          "\\ProxyStubClsid32]\r\n@=\"{00020424-0000-0000-C000-000000000046}\"\r\n";
        }
        const std::wstring file = scratch.path() + L"\\driver.reg";
        std::ofstream(std::string(file.begin(), file.end()), std::ios::binary) << driverKeys;
        for (const wchar_t* view : {L" /reg:64", L" /reg:32"})
            ASSERT_EQ(0u, runAndWait(L"reg.exe import \"" + file + L"\"" + view));
        before = exported();
        for (const std::string& key : before) ASSERT_NE("", key) << "not imported";
    }
    static std::vector<std::string> exported() {
        std::vector<std::string> keys;
        for (const GUID* iid : {&DIID__IAxisJogDialEvents, &DIID__IAxisKeyPadEvents})
            for (int bits : {64, 32}) keys.push_back(exportedClassesKey(interfaceKey(*iid), bits));
        return keys;
    }
    void expectUnchanged() const { EXPECT_EQ(before, exported()); }

    ScratchDirectory scratch;
    std::vector<std::string> before;
};

TEST_F(RegistrationBesideTheDriver, InterfaceKeysOfAnotherComponent_StayExactlyAsTheyWere) {
    const std::wstring quoted = L"\"" + dravloDllPath() + L"\"";
    ASSERT_EQ(0u, runAndWait(L"regsvr32.exe /s " + quoted));
    EXPECT_EQ(dravloDllPath(), registeredFile());
    // The interface nobody else registered is Dravlo's to write.
    EXPECT_EQ(guidString(Dravlo::LIBID_DravloDriver),
              classesKeyDefault(interfaceKey(DIID__IAxisJoystickEvents) + L"\\TypeLib"));
    expectUnchanged();

    EXPECT_EQ(0u, runAndWait(L"regsvr32.exe /s /u " + quoted));
    EXPECT_FALSE(classesKeyExists(typeLibKey()));
    for (REGSAM view : views) EXPECT_FALSE(classesKeyExists(interfaceKey(DIID__IAxisJoystickEvents), view));
    expectUnchanged();
    // A second unregistration finds nothing of its own and changes nothing.
    Registrar(dravloDllPath()).unregisterServer();
    expectUnchanged();
}

// Keys under the driver's key that would send saving round a loop or down a
// long chain, or that could not be written back: both entry points fail at
// once and change nothing. A chain as deep as the limit is kept as it was.
TEST_F(RegistrationBesideTheDriver, KeysThatSavingCannotTake_FailAtOnceAndChangeNothing) {
    std::wstring limit = L"k", longChain = L"k";
    for (int i = 1; i < Dravlo::MaxSavedDepth; ++i) limit += L"\\k";
    for (int i = 1; i < 500; ++i) longChain += L"\\k";
    const struct {
        const wchar_t* name;
        std::wstring subKey;
        DWORD options;
        HRESULT expected;
    } cases[] = {
        {L"a link back to the key", L"loop", REG_OPTION_CREATE_LINK, Dravlo::LinkedKeyResult},
        {L"500 keys deep", longChain, 0, Dravlo::DeepKeyResult},
        {L"one key deeper than the limit", limit + L"\\k", 0, Dravlo::DeepKeyResult},
        {L"a key it may not write", L"locked", 0, E_ACCESSDENIED},
        {L"as deep as the limit", limit, 0, S_OK},
    };
    const std::wstring driverKey = interfaceKey(DIID__IAxisJogDialEvents);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HKEY driver = nullptr, planted = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, driverKey.c_str(), 0, KEY_ALL_ACCESS, &driver));
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(driver, c.subKey.c_str(), 0, nullptr, c.options, KEY_ALL_ACCESS,
                                                 nullptr, &planted, nullptr));
        const std::wstring target = L"\\Registry\\Machine\\Software\\Classes\\" + driverKey;
        if (c.options == REG_OPTION_CREATE_LINK)
            RegSetValueExW(planted, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                           static_cast<DWORD>(target.size() * sizeof(wchar_t)));
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        if (c.expected == E_ACCESSDENIED && ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                                L"D:(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly, nullptr)) {
            RegSetKeySecurity(planted, DACL_SECURITY_INFORMATION, readOnly);
            LocalFree(readOnly);
        }
        RegCloseKey(planted);

        const auto started = std::chrono::steady_clock::now();
        Registrar dravlo(dravloDllPath());
        EXPECT_EQ(c.expected, dravlo.registerServer());
        EXPECT_EQ(c.expected, dravlo.unregisterServer());
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
        EXPECT_FALSE(classesKeyExists(typeLibKey()));
        deleteLink(driver, c.subKey);
        RegDeleteTreeW(driver, c.subKey.substr(0, c.subKey.find(L'\\')).c_str());
        RegCloseKey(driver);
        expectUnchanged();
    }
}

TEST_F(RegistrationBesideTheDriver, KeysThatCannotBeWrittenBack_FailTheRegistration) {
    LoadedLibrary dll(dravloDllPath());
    const Dravlo::ValueWriter failing = [](HKEY, const wchar_t*, DWORD, const BYTE*, DWORD) -> LSTATUS {
        return ERROR_WRITE_FAULT;
    };
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), Dravlo::registerServer(dll.get(), failing));
}

TEST_F(Registration, ThreadLocale_IsRestoredByBothEntryPoints) {
    const LCID saved = GetThreadLocale();
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(SetThreadLocale(german));
    Registrar dravlo(dravloDllPath());
    EXPECT_EQ(S_OK, dravlo.registerServer());
    EXPECT_EQ(german, GetThreadLocale());
    EXPECT_EQ(S_OK, dravlo.unregisterServer());
    EXPECT_EQ(german, GetThreadLocale());
    SetThreadLocale(saved);
}

TEST_F(Registration, Regsvr32_RegistersAndUnregisters_FromAnyFolder) {
    ScratchDirectory scratch;
    std::vector<std::wstring> libraries{dravloDllPath()};
    for (const wchar_t* folder : ModuleTest::userFolders) {
        libraries.push_back(ModuleTest::copyInto(scratch.path() + L"\\" + folder, L"Dravlo.dll"));
    }
    for (const std::wstring& library : libraries) {
        SCOPED_TRACE(library);
        const std::wstring quoted = L"\"" + library + L"\"";
        EXPECT_EQ(0u, runAndWait(L"regsvr32.exe /s " + quoted));
        EXPECT_EQ(library, registeredFile());
        EXPECT_EQ(0u, runAndWait(L"regsvr32.exe /s /u " + quoted));
        expectNothingRegistered();
    }
}

/// A copy of Dravlo.dll whose type library resource is deleted, in a folder
/// named outside the ANSI code page.
class RegistrationOfCopy : public Registration {
protected:
    void SetUp() override {
        Registration::SetUp();
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ModuleTest::copyWithoutTypeLib(dravloDllPath(), copy);
        ITypeLibPtr direct;
        ASSERT_TRUE(FAILED(LoadTypeLib(copy.c_str(), &direct))) << "the copy still holds its type library";
    }
    ScratchDirectory scratch;
    std::wstring folder = scratch.path() + L"\\" + ModuleTest::userFolders[0];
    std::wstring copy = folder + L"\\DravloCopy.dll";
    std::wstring tlb = folder + L"\\DravloCopy.tlb";
};

TEST_F(RegistrationOfCopy, TlbBesideTheLibrary_IsRegisteredInstead) {
    ModuleTest::writeEmbeddedTypeLib(dravloDllPath(), tlb);
    Registrar registrar(copy);
    ASSERT_NE(nullptr, registrar.dll.get());
    ASSERT_EQ(S_OK, registrar.registerServer());
    EXPECT_EQ(tlb, registeredFile());
    ASSERT_EQ(S_OK, registrar.unregisterServer());
    expectNothingRegistered();
}

TEST_F(RegistrationOfCopy, NeitherLoadable_BothFailAndNothingChanges) {
    ITypeLibPtr direct;
    const HRESULT expected = LoadTypeLib(tlb.c_str(), &direct);
    ASSERT_TRUE(FAILED(expected));
    const LCID locale = GetThreadLocale();
    Registrar registrar(copy);
    ASSERT_NE(nullptr, registrar.dll.get());
    EXPECT_EQ(expected, registrar.registerServer());
    expectNothingRegistered();
    EXPECT_EQ(expected, registrar.unregisterServer());
    expectNothingRegistered();
    EXPECT_EQ(locale, GetThreadLocale());
}

TEST_F(Registration, LibraryPathOf260OrMore_FailsWithInsufficientBuffer) {
    ScratchDirectory scratch;
    ASSERT_LT(scratch.path().size() + 20, 259u);
    for (std::size_t length : {259u, 260u, 300u}) {
        SCOPED_TRACE(length);
        std::wstring path = ModuleTest::copyToPathOfLength(scratch.path(), length);
        ASSERT_EQ(length, path.size());
        Registrar registrar(path);
        ASSERT_NE(nullptr, registrar.dll.get()) << "cannot load from a long path";
        if (length < MAX_PATH) {
            EXPECT_EQ(S_OK, registrar.registerServer());
            EXPECT_EQ(path, registeredFile());
            EXPECT_EQ(S_OK, registrar.unregisterServer());
        } else {
            EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), registrar.registerServer());
            expectNothingRegistered();
            EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), registrar.unregisterServer());
        }
        expectNothingRegistered();
    }
}

}  // namespace
