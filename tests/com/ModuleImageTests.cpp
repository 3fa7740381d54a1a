// The built Dravlo.dll as a file: its export and import tables, its resources
// and the manifest, read without running any of its code.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/com/ModuleTestSupport.h"

namespace {

using ModuleTest::dravloDllPath;
using ModuleTest::PeFile;

const std::set<std::string> comExports = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                          "DllUnregisterServer"};

// The Java native methods: the drivers' and the loader's.
const std::set<std::string> javaExports = {"Java_applet_utils_dravlo_JogDialDriver_initializeImpl",
                                           "Java_applet_utils_dravlo_JogDialDriver_uninitializeImpl",
                                           "Java_applet_utils_dravlo_JogDialDriver_getNumberOfDevicesImpl",
                                           "Java_applet_utils_dravlo_JogDialDriver_registerDialListenerImpl",
                                           "Java_applet_utils_dravlo_JogDialDriver_registerKeyListenerImpl",
                                           "Java_applet_utils_dravlo_KeyPadDriver_initializeImpl",
                                           "Java_applet_utils_dravlo_KeyPadDriver_uninitializeImpl",
                                           "Java_applet_utils_dravlo_KeyPadDriver_getNumberOfDevicesImpl",
                                           "Java_applet_utils_dravlo_KeyPadDriver_registerKeyListenerImpl",
                                           "Java_applet_utils_dravlo_KeyPadDriver_executeCommandImpl",
                                           "Java_applet_utils_dravlo_DravloLibrary_nativeVersion",
                                           "Java_applet_utils_dravlo_DravloLibrary_nativeFile",
                                           "Java_applet_utils_dravlo_DravloLibrary_lastComFailure"};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST(ModuleImage, Exports_AreTheComEntryPointsAndJavaNativesOnly) {
    std::vector<std::string> names = PeFile(dravloDllPath()).exportNames();
    std::set<std::string> unique(names.begin(), names.end());
    EXPECT_EQ(names.size(), unique.size()) << "a name is exported twice";
    for (const std::string& name : comExports) EXPECT_EQ(1u, unique.count(name)) << name << " is not exported";
    for (const std::string& name : javaExports) EXPECT_EQ(1u, unique.count(name)) << name << " is not exported";
    for (const std::string& name : unique) {
        EXPECT_TRUE(comExports.count(name) == 1 || javaExports.count(name) == 1) << "stray export " << name;
    }
}

TEST(ModuleImage, Imports_AreSystemLibrariesOnly) {
    const std::set<std::string> allowed = {"kernel32.dll", "msvcrt.dll",   "ole32.dll",
                                           "oleaut32.dll", "advapi32.dll", "user32.dll"};
    std::vector<std::string> dlls = PeFile(dravloDllPath()).importedDlls();
    EXPECT_FALSE(dlls.empty());
    for (const std::string& dll : dlls) {
        std::string name = lower(dll);
        EXPECT_TRUE(allowed.count(name) == 1 || name.rfind("api-ms-win-", 0) == 0) << "imports " << dll;
    }
}

// "type/name/language" of every resource; ids as "#n".
struct ResourceWalk {
    std::wstring type, name;
    std::set<std::wstring> found;
};

std::wstring resourceText(LPCWSTR id) {
    return IS_INTRESOURCE(id) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id)) : std::wstring(id);
}

BOOL CALLBACK onLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
    auto* walk = reinterpret_cast<ResourceWalk*>(context);
    walk->found.insert(walk->type + L"/" + walk->name + L"/" + std::to_wstring(language));
    return TRUE;
}

BOOL CALLBACK onName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
    reinterpret_cast<ResourceWalk*>(context)->name = resourceText(name);
    EnumResourceLanguagesW(module, type, name, onLanguage, context);
    return TRUE;
}

BOOL CALLBACK onType(HMODULE module, LPWSTR type, LONG_PTR context) {
    reinterpret_cast<ResourceWalk*>(context)->type = resourceText(type);
    EnumResourceNamesW(module, type, onName, context);
    return TRUE;
}

/// Maps Dravlo.dll as data (no code runs) for its resources.
class ResourceImage : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExW(dravloDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_);
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    std::string manifest() const {
        HRSRC resource = FindResourceExW(module_, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(2),
                                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (resource == nullptr) return {};
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module_, resource)));
        return std::string(bytes, SizeofResource(module_, resource));
    }
    HMODULE module_ = nullptr;
};

TEST_F(ResourceImage, Resources_AreTypeLibOneManifestTwoAndVersionOne_InUsEnglish) {
    ResourceWalk walk;
    EnumResourceTypesW(module_, onType, reinterpret_cast<LONG_PTR>(&walk));
    EXPECT_EQ((std::set<std::wstring>{L"TYPELIB/#1/1033", L"#24/#2/1033", L"#16/#1/1033"}), walk.found);
}

TEST_F(ResourceImage, Manifest_RequestsAsInvokerWithoutUiAccess_AndNothingElse) {
    std::string text = manifest();
    ASSERT_FALSE(text.empty());
    EXPECT_NE(std::string::npos, text.find(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"));
    // Every element of the manifest, in document order.
    std::vector<std::string> elements;
    for (std::size_t open = text.find('<'); open != std::string::npos; open = text.find('<', open + 1)) {
        std::size_t first = open + 1;
        if (first >= text.size() || !std::isalpha(static_cast<unsigned char>(text[first]))) continue;
        std::size_t last = text.find_first_of(" />", first);
        elements.push_back(text.substr(first, last - first));
    }
    EXPECT_EQ((std::vector<std::string>{"assembly", "trustInfo", "security", "requestedPrivileges",
                                        "requestedExecutionLevel"}),
              elements);
}

// The version resource as Explorer and crash tools read it, through version.dll.
class VersionInfo : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeW(dravloDllPath().c_str(), &handle);
        ASSERT_NE(0u, size) << "no version resource";
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(dravloDllPath().c_str(), 0, size, block_.data()));
    }
    /// The value at `path`, or null with `length` 0.
    const void* query(const std::wstring& path, UINT& length) {
        void* value = nullptr;
        length = 0;
        if (!VerQueryValueW(block_.data(), path.c_str(), &value, &length)) return nullptr;
        return value;
    }
    std::wstring text(const std::wstring& name) {
        UINT length = 0;
        auto* value = static_cast<const wchar_t*>(query(L"\\StringFileInfo\\040904B0\\" + name, length));
        return value == nullptr ? L"<missing>" : std::wstring(value);
    }
    std::vector<unsigned char> block_;
};

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST_F(VersionInfo, Strings_CarryTheProjectVersionAndFileName) {
    const std::pair<const wchar_t*, std::string> expected[] = {
        {L"FileVersion", DRAVLO_EXPECTED_VERSION},
        {L"ProductVersion", DRAVLO_EXPECTED_VERSION},
        {L"OriginalFilename", "Dravlo.dll"},
        {L"InternalName", "Dravlo"},
        {L"ProductName", "Dravlo"},
        {L"FileDescription", DRAVLO_EXPECTED_DESCRIPTION},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(wide(value), text(name)) << name;
}

TEST_F(VersionInfo, Translation_IsUsEnglishUnicodeOnly) {
    UINT length = 0;
    auto* pairs = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation", length));
    ASSERT_NE(nullptr, pairs);
    ASSERT_EQ(2 * sizeof(WORD), length) << "more than one translation";
    EXPECT_EQ(1033, pairs[0]);
    EXPECT_EQ(1200, pairs[1]);
}

TEST_F(VersionInfo, FixedInfo_MatchesTheVersionText) {
    UINT length = 0;
    auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\", length));
    ASSERT_NE(nullptr, fixed);
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileFlags & fixed->dwFileFlagsMask) << "a debug, pre-release or patched build";
    for (auto [ms, ls] : {std::pair{fixed->dwFileVersionMS, fixed->dwFileVersionLS},
                          std::pair{fixed->dwProductVersionMS, fixed->dwProductVersionLS}}) {
        std::string dotted =
            std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." + std::to_string(HIWORD(ls));
        EXPECT_EQ(DRAVLO_EXPECTED_VERSION, dotted);
        EXPECT_EQ(0, LOWORD(ls));
    }
}

}  // namespace
